// versioninfo.cpp - the version resource's reserved text fields.
#include "versioninfo.h"

#include <algorithm>

#include "resources/versionfields.h"

namespace {

struct Field {
    const char* name;            // for messages
    const char* placeholder;     // its width, terminator included, is the field's
    std::string VersionTexts::*text;
};

const Field fields[] = {
    {"file description", VERSION_DESCRIPTION_PLACEHOLDER, &VersionTexts::description},
    {"product name", VERSION_PRODUCT_NAME_PLACEHOLDER, &VersionTexts::productName},
    {"product version", VERSION_PRODUCT_VERSION_PLACEHOLDER, &VersionTexts::productVersion},
    {"publisher", VERSION_COMPANY_PLACEHOLDER, &VersionTexts::company},
};

// Windows-1252 differs from Latin-1 in 0x80..0x9F only (0 where it has no character).
const uint16_t cp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E,
    0x0178};

uint16_t wideOf(unsigned char c)
{
    return c >= 0x80 && c < 0xA0 ? cp1252High[c - 0x80] : c;
}

std::vector<uint8_t> utf16Of(const char* text)
{
    std::vector<uint8_t> bytes;
    for (const char* at = text; *at; at++) {
        uint16_t unit = wideOf((unsigned char)*at);
        bytes.push_back((uint8_t)unit);
        bytes.push_back((uint8_t)(unit >> 8));
    }
    return bytes;
}

// Byte offset of the only occurrence of the placeholder, or -1 (none or several).
long findOnly(const std::vector<uint8_t>& image, const char* placeholder)
{
    std::vector<uint8_t> pattern = utf16Of(placeholder);
    long found = -1;
    for (size_t i = 0; i + pattern.size() <= image.size(); i++) {
        if (image[i] != pattern[0] || !std::equal(pattern.begin(), pattern.end(), image.begin() + i))
            continue;
        if (found >= 0)
            return -1;
        found = (long)i;
    }
    return found;
}

}  // namespace

bool reservesVersionFields(const std::vector<uint8_t>& image)
{
    for (const Field& field : fields) {
        std::vector<uint8_t> pattern = utf16Of(field.placeholder);
        if (std::search(image.begin(), image.end(), pattern.begin(), pattern.end()) != image.end())
            return true;
    }
    return false;
}

std::string writeVersionTexts(std::vector<uint8_t>& image, const VersionTexts& texts)
{
    long at[sizeof fields / sizeof fields[0]];
    for (size_t f = 0; f < sizeof fields / sizeof fields[0]; f++) {
        const std::string& text = texts.*fields[f].text;
        size_t width = std::string(fields[f].placeholder).size() + 1;
        if (text.size() >= width)
            return std::string(fields[f].name) + " \"" + text + "\" is longer than its " +
                   std::to_string(width - 1) + " characters";
        for (unsigned char c : text)
            if (c < 0x20 || wideOf(c) == 0)
                return std::string(fields[f].name) + " holds a character that a version resource cannot show";
        at[f] = findOnly(image, fields[f].placeholder);
        if (at[f] < 0)
            return std::string("the setup program has no reserved ") + fields[f].name +
                   " field (a stub of another version, or one already built)";
    }
    for (size_t f = 0; f < sizeof fields / sizeof fields[0]; f++) {
        size_t width = std::string(fields[f].placeholder).size() + 1;
        std::vector<uint8_t> value = utf16Of((texts.*fields[f].text).c_str());
        value.resize(2 * (width - 1), 0);   // the resource's own terminator stays
        std::copy(value.begin(), value.end(), image.begin() + at[f]);
    }
    return "";
}

bool readVersionTexts(const std::vector<uint8_t>& image, VersionTexts& texts)
{
    // A written field no longer shows its placeholder, so it is found by its
    // key: the UTF-16 key name, NUL-padded to 4 bytes, then the value.
    static const char* const keys[] = {"FileDescription", "ProductName", "ProductVersion", "CompanyName"};
    for (size_t f = 0; f < sizeof fields / sizeof fields[0]; f++) {
        std::vector<uint8_t> key = utf16Of(keys[f]);
        key.push_back(0);
        key.push_back(0);
        auto found = std::search(image.begin(), image.end(), key.begin(), key.end());
        if (found == image.end())
            return false;
        size_t at = (size_t)(found - image.begin()) + key.size();
        at = (at + 3) & ~(size_t)3;
        std::string text;
        while (at + 1 < image.size() && (image[at] || image[at + 1])) {
            uint16_t unit = (uint16_t)(image[at] | image[at + 1] << 8);
            text += unit < 0x100 ? (char)unit : '?';
            at += 2;
        }
        texts.*fields[f].text = text;
    }
    return true;
}
