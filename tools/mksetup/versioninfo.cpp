// versioninfo.cpp - the version resource's reserved text fields.
#include "versioninfo.h"

#include <algorithm>

#include "codepage.h"
#include "coding/littleendian.h"
#include "resources/versionfields.h"

namespace {

struct Field {
    const char* name;            // for messages
    const char* key;             // the String record's key in the resource
    const char* placeholder;     // its width, terminator included, is the field's
    std::string VersionTexts::*text;
};

const Field fields[] = {
    {"file description", "FileDescription", VERSION_DESCRIPTION_PLACEHOLDER, &VersionTexts::description},
    {"product name", "ProductName", VERSION_PRODUCT_NAME_PLACEHOLDER, &VersionTexts::productName},
    {"product version", "ProductVersion", VERSION_PRODUCT_VERSION_PLACEHOLDER, &VersionTexts::productVersion},
    {"publisher", VERSION_COMPANY_KEY, VERSION_COMPANY_PLACEHOLDER, &VersionTexts::company},
};
enum { FIELD_COUNT = sizeof fields / sizeof fields[0] };

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

size_t widthOf(const Field& field)
{
    return std::string(field.placeholder).size() + 1;
}

// A String record of a version resource: wLength, wValueLength (UTF-16
// units, terminator included), wType 1 (text), the key with its NUL, padding
// to 4 bytes, then the value.
struct Record {
    size_t value;      // byte offset of the value
    size_t units;      // its width
};

// The records of the field's key in image; a record's header must agree with
// its key and value, so the key's letters elsewhere (in code, in other text)
// do not count.
std::vector<Record> recordsOf(const std::vector<uint8_t>& image, const Field& field)
{
    std::vector<uint8_t> key = utf16Of(field.key);
    key.push_back(0);
    key.push_back(0);
    std::vector<Record> found;
    for (auto at = image.begin(); (at = std::search(at, image.end(), key.begin(), key.end())) != image.end(); ++at) {
        size_t keyAt = (size_t)(at - image.begin());
        if (keyAt < 6)
            continue;
        size_t start = keyAt - 6;
        size_t length = readLe16(&image[start]), units = readLe16(&image[start + 2]), type = readLe16(&image[start + 4]);
        size_t value = start + ((6 + key.size() + 3) & ~(size_t)3);
        if (type == 1 && units > 0 && length == value - start + 2 * units && value + 2 * units <= image.size())
            found.push_back({value, units});
    }
    return found;
}

}  // namespace

bool hasVersionFields(const std::vector<uint8_t>& image)
{
    for (const Field& field : fields)
        if (!recordsOf(image, field).empty())
            return true;
    return false;
}

std::string writeVersionTexts(std::vector<uint8_t>& image, const VersionTexts& texts)
{
    size_t at[FIELD_COUNT];
    for (size_t f = 0; f < FIELD_COUNT; f++) {
        const std::string& text = texts.*fields[f].text;
        size_t width = widthOf(fields[f]);
        if (invalidUtf8At(text) != std::string::npos)
            return std::string(fields[f].name) + " holds a character that a version resource cannot show";
        for (unsigned char c : text)
            if (c < 0x20)
                return std::string(fields[f].name) + " holds a character that a version resource cannot show";
        if (::utf16Of(text).size() >= width)
            return std::string(fields[f].name) + " \"" + text + "\" is longer than its " +
                   std::to_string(width - 1) + " characters";
        std::vector<Record> records = recordsOf(image, fields[f]);
        if (records.size() != 1)
            return std::string("the setup program has ") + (records.empty() ? "no " : "more than one ") +
                   fields[f].name + " field in its version resource (a stub of another version?)";
        if (records[0].units != width)
            return std::string("the setup program's ") + fields[f].name + " field holds " +
                   std::to_string(records[0].units - 1) + " characters, not " + std::to_string(width - 1) +
                   " (a stub of another version?)";
        at[f] = records[0].value;
    }
    for (size_t f = 0; f < FIELD_COUNT; f++) {
        size_t width = widthOf(fields[f]);
        // Padded with NULs to the field's end, so no letter of an earlier text stays.
        std::vector<uint8_t> value = utf16Of((texts.*fields[f].text).c_str());
        value.resize(2 * (width - 1), 0);   // the resource's own terminator stays
        std::copy(value.begin(), value.end(), image.begin() + (long)at[f]);
    }
    return "";
}

bool readVersionTexts(const std::vector<uint8_t>& image, VersionTexts& texts)
{
    for (const Field& field : fields) {
        std::vector<Record> records = recordsOf(image, field);
        if (records.size() != 1)
            return false;
        std::u16string units;
        for (size_t at = records[0].value, end = at + 2 * records[0].units; at + 1 < end; at += 2) {
            char16_t unit = (char16_t)(image[at] | image[at + 1] << 8);
            if (!unit)
                break;
            units += unit;
        }
        std::string text;
        if (!utf8OfUtf16(units, text))
            return false;
        texts.*field.text = text;
    }
    return true;
}
