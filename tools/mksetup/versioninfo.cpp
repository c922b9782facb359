// versioninfo.cpp - the version resource's reserved text fields.
#include "versioninfo.h"

#include <algorithm>

#include "codepage.h"
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

// UTF-8 text as the resource's little-endian UTF-16.
std::vector<uint8_t> utf16Of(const char* text)
{
    std::vector<uint8_t> bytes;
    for (char16_t unit : ::utf16Of(text)) {
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
        if (invalidUtf8At(text) != std::string::npos)
            return std::string(fields[f].name) + " holds a character that a version resource cannot show";
        for (unsigned char c : text)
            if (c < 0x20)
                return std::string(fields[f].name) + " holds a character that a version resource cannot show";
        if (::utf16Of(text).size() >= width)
            return std::string(fields[f].name) + " \"" + text + "\" is longer than its " +
                   std::to_string(width - 1) + " characters";
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
    static const char* const keys[] = {"FileDescription", "ProductName", "ProductVersion", VERSION_COMPANY_KEY};
    for (size_t f = 0; f < sizeof fields / sizeof fields[0]; f++) {
        std::vector<uint8_t> key = utf16Of(keys[f]);
        key.push_back(0);
        key.push_back(0);
        auto found = std::search(image.begin(), image.end(), key.begin(), key.end());
        if (found == image.end())
            return false;
        size_t at = (size_t)(found - image.begin()) + key.size();
        at = (at + 3) & ~(size_t)3;
        std::u16string units;
        while (at + 1 < image.size() && (image[at] || image[at + 1])) {
            units += (char16_t)(image[at] | image[at + 1] << 8);
            at += 2;
        }
        std::string text;
        if (!utf8OfUtf16(units, text))
            return false;
        texts.*fields[f].text = text;
    }
    return true;
}
