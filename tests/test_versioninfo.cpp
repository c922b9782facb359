// test_versioninfo.cpp - the builder's writing of the version resource's
// reserved fields, on a string table laid out as a resource compiler lays it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/versionfields.h"
#include "tools/mksetup/versioninfo.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void putUtf16(Bytes& out, const std::string& text)
{
    for (unsigned char c : text) {
        out.push_back(c);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
}

void align4(Bytes& out)
{
    while (out.size() % 4)
        out.push_back(0);
}

// One String record: lengths, type 1 (text), key, padding, value.
void putString(Bytes& out, const std::string& key, const std::string& value)
{
    size_t start = out.size();
    out.insert(out.end(), 6, 0);
    out[start + 2] = (uint8_t)(value.size() + 1);
    out[start + 4] = 1;
    putUtf16(out, key);
    align4(out);
    putUtf16(out, value);
    out[start] = (uint8_t)(out.size() - start);
    align4(out);
}

// A stub-like image: some code bytes, the string table, more bytes.
Bytes stubImage()
{
    Bytes image(1000, 0xCC);
    putString(image, "CompanyName", VERSION_COMPANY_PLACEHOLDER);
    putString(image, "FileDescription", VERSION_DESCRIPTION_PLACEHOLDER);
    putString(image, "ProductName", VERSION_PRODUCT_NAME_PLACEHOLDER);
    putString(image, "ProductVersion", VERSION_PRODUCT_VERSION_PLACEHOLDER);
    image.insert(image.end(), 500, 0xDD);
    return image;
}

VersionTexts demoTexts()
{
    VersionTexts texts;
    texts.description = "Demo Setup";
    texts.productName = "Demo";
    texts.productVersion = "1.0";
    texts.company = "Tamberlyn Software";
    return texts;
}

}  // namespace

TEST(VersionInfo, WritesEveryFieldInPlaceAndReadsItBack)
{
    Bytes image = stubImage();
    Bytes before = image;
    ASSERT_EQ(writeVersionTexts(image, demoTexts()), "");
    ASSERT_EQ(image.size(), before.size());
    VersionTexts back;
    ASSERT_TRUE(readVersionTexts(image, back));
    EXPECT_EQ(back.description, "Demo Setup");
    EXPECT_EQ(back.productName, "Demo");
    EXPECT_EQ(back.productVersion, "1.0");
    EXPECT_EQ(back.company, "Tamberlyn Software");
    // Nothing but the four values changed: the code bytes around them stay.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 1000, image.begin()));
    EXPECT_TRUE(std::equal(before.end() - 500, before.end(), image.end() - 500));
    // Building is reproducible.
    Bytes again = stubImage();
    ASSERT_EQ(writeVersionTexts(again, demoTexts()), "");
    EXPECT_EQ(again, image);
}

// A stub taken from an earlier setup has its fields filled with that
// product's texts: a new build writes over them, longer or shorter, and the
// result is the image a fresh stub would give; nothing of the earlier texts stays.
TEST(VersionInfo, WritesOverTheFieldsOfAnEarlierBuild)
{
    Bytes earlier = stubImage();
    VersionTexts first = demoTexts();
    first.productName = "Earlier Product With A Long Name";
    first.productName.resize(31);
    first.description = first.productName + " Setup";
    first.company = "Earlier Publisher of a Rather Long Name, Incorporated";
    ASSERT_EQ(writeVersionTexts(earlier, first), "");
    ASSERT_TRUE(hasVersionFields(earlier));
    for (VersionTexts next : {demoTexts(), first}) {
        next.company = next.company == first.company ? "" : next.company;   // an empty field too
        Bytes rebuilt = earlier, fresh = stubImage();
        ASSERT_EQ(writeVersionTexts(rebuilt, next), "");
        ASSERT_EQ(writeVersionTexts(fresh, next), "");
        EXPECT_EQ(rebuilt, fresh) << next.productName;
        VersionTexts back;
        ASSERT_TRUE(readVersionTexts(rebuilt, back));
        EXPECT_EQ(back.productName, next.productName);
        EXPECT_EQ(back.company, next.company);
    }
    Bytes rebuilt = earlier;
    ASSERT_EQ(writeVersionTexts(rebuilt, demoTexts()), "");
    Bytes word;
    putUtf16(word, "Earlier");
    word.resize(word.size() - 2);
    EXPECT_EQ(std::search(rebuilt.begin(), rebuilt.end(), word.begin(), word.end()), rebuilt.end());
}

TEST(VersionInfo, RefusesWhatDoesNotFitAndLeavesTheImageAlone)
{
    const struct {
        const char* what;
        std::string VersionTexts::*field;
        std::string value;
        const char* message;
    } cases[] = {
        {"a 32-character product name", &VersionTexts::productName, std::string(32, 'x'), "longer than its 31"},
        {"a 17-character version", &VersionTexts::productVersion, std::string(17, '1'), "longer than its 16"},
        {"a control character", &VersionTexts::company, "Tamb\x1b]0;title\x07", "cannot show"},
        {"a byte with no character", &VersionTexts::company, "A\x81", "cannot show"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = stubImage();
        Bytes before = image;
        VersionTexts texts = demoTexts();
        texts.*c.field = c.value;
        EXPECT_NE(writeVersionTexts(image, texts).find(c.message), std::string::npos);
        EXPECT_EQ(image, before);
    }
    // The longest texts that fit are written whole.
    Bytes image = stubImage();
    VersionTexts texts = demoTexts();
    texts.productName = std::string(31, 'n');
    texts.description = texts.productName + " Setup";
    ASSERT_EQ(writeVersionTexts(image, texts), "");
    VersionTexts back;
    ASSERT_TRUE(readVersionTexts(image, back));
    EXPECT_EQ(back.productName, texts.productName);
    EXPECT_EQ(back.description, texts.description);
}

TEST(VersionInfo, PlaceholderMissingOrTwiceIsRefused)
{
    Bytes twice = stubImage();
    putString(twice, "ProductName", VERSION_PRODUCT_NAME_PLACEHOLDER);
    Bytes before = twice;
    EXPECT_NE(writeVersionTexts(twice, demoTexts()).find("product name"), std::string::npos);
    EXPECT_EQ(twice, before);
    EXPECT_TRUE(hasVersionFields(twice));
    Bytes none(4000, 0);
    EXPECT_FALSE(hasVersionFields(none));
    EXPECT_NE(writeVersionTexts(none, demoTexts()), "");
    VersionTexts back;
    EXPECT_FALSE(readVersionTexts(none, back));

    // The keys' letters outside a String record (in code, in other text) are no field.
    Bytes loose(1000, 0xCC);
    for (const char* key : {"CompanyName", "FileDescription", "ProductName", "ProductVersion"})
        putUtf16(loose, key);
    EXPECT_FALSE(hasVersionFields(loose));

    // A field of another width (a stub of another version) is refused, not
    // written in part: its earlier text would stay.
    Bytes narrow(1000, 0xCC);
    putString(narrow, "CompanyName", VERSION_COMPANY_PLACEHOLDER);
    putString(narrow, "FileDescription", VERSION_DESCRIPTION_PLACEHOLDER);
    putString(narrow, "ProductName", "<ProductName>");
    putString(narrow, "ProductVersion", VERSION_PRODUCT_VERSION_PLACEHOLDER);
    before = narrow;
    EXPECT_TRUE(hasVersionFields(narrow));
    EXPECT_NE(writeVersionTexts(narrow, demoTexts()).find("product name field holds 13 characters, not 31"), std::string::npos)
        << writeVersionTexts(narrow, demoTexts());
    EXPECT_EQ(narrow, before);
}

TEST(VersionInfo, Utf8TextBecomesItsUnicodeUnits)
{
    Bytes image = stubImage();
    VersionTexts texts = demoTexts();
    texts.company = "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";   // e acute, euro sign, one past U+FFFF
    ASSERT_EQ(writeVersionTexts(image, texts), "");
    const uint8_t expected[] = {'C', 0, 'a', 0, 'f', 0, 0xE9, 0, ' ', 0, 0xAC, 0x20, ' ', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};
    EXPECT_NE(std::search(image.begin(), image.end(), expected, expected + sizeof expected), image.end());
    VersionTexts back;
    ASSERT_TRUE(readVersionTexts(image, back));
    EXPECT_EQ(back.company, texts.company);
    // Width counts UTF-16 units, not UTF-8 bytes: 31 e-acutes (62 bytes) fit the 31 units.
    texts.productName.clear();
    for (int i = 0; i < 31; i++)
        texts.productName += "\xc3\xa9";
    image = stubImage();
    EXPECT_EQ(writeVersionTexts(image, texts), "");
}
