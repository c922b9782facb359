// Configuration block: deciphering rules and the case-blind search.
#include <gtest/gtest.h>

#include <string.h>

#include "coding/pc1.h"
#include "app/setupconfig.h"
#include "testutil.h"

// A block of 8 header bytes, the 1044-byte payload area and 64 bytes that follow it.
static Bytes makeBlock(uint32_t magic, int32_t length, const Bytes& payload)
{
    Bytes block(8 + CONFIG_PAYLOAD_SIZE + 64, 0xEE);
    for (int i = 0; i < 4; i++) {
        block[i] = (uint8_t)(magic >> (8 * i));
        block[4 + i] = (uint8_t)((uint32_t)length >> (8 * i));
    }
    memcpy(block.data() + 8, payload.data(), payload.size());
    return block;
}

TEST(SetupConfig, DecipherFollowsHeader)
{
    const Bytes plain = textBytes(CONFIG_PAYLOAD_SIZE, 9);
    Bytes cipher = plain;
    setKey(nullptr);
    crypt(cipher.data(), (int32_t)cipher.size(), 1);

    struct Case {
        uint32_t magic;
        int32_t length;
        int expectedResult;
        int32_t expectedPlainBytes;   // leading payload bytes that come out deciphered
    } cases[] = {
        {CONFIG_MAGIC, 1044, 1, 1044},
        {CONFIG_MAGIC, 100, 1, 100},
        {CONFIG_MAGIC, 1, 1, 1},
        {CONFIG_MAGIC, 0, 0, 0},
        {CONFIG_MAGIC, -5, 0, 0},
        {CONFIG_MAGIC, 2048, 0, 0},
        {CONFIG_MAGIC, 2047, 1, 1044},   // never past the payload area
        {CONFIG_MAGIC, 1045, 1, 1044},
        {CONFIG_MARKER_1, 1044, 0, 0},   // an unwritten stub
        {0x12345678u, 1044, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes block = makeBlock(c.magic, c.length, cipher);
        if (c.magic == CONFIG_MARKER_1)
            for (int i = 0; i < 4; i++)
                block[4 + i] = (uint8_t)(CONFIG_MARKER_2 >> (8 * i));
        const Bytes before = block;
        EXPECT_EQ(decipherSetupConfig(block.data()), c.expectedResult) << c.length;
        Bytes expected = before;
        memcpy(expected.data() + 8, plain.data(), (size_t)c.expectedPlainBytes);
        EXPECT_EQ(block, expected) << "magic " << std::hex << c.magic << std::dec << " length " << c.length;
    }
}

TEST(SetupConfig, FieldsReadAfterDeciphering)
{
    ConfigBlock block;
    memset(&block, 0, sizeof block);
    strcpy(block.payload.productName, "Tamberlyn");
    memcpy(block.payload.fileNames, "Uninst.exe\0Tamb.exe\0", 20);
    block.payload.fileCount = 2;
    block.payload.progressRange = 123456;
    setKey(nullptr);
    crypt((uint8_t*)&block.payload, CONFIG_PAYLOAD_SIZE, 1);
    block.magic = CONFIG_MAGIC;
    block.length = CONFIG_PAYLOAD_SIZE;

    ASSERT_EQ(decipherSetupConfig((uint8_t*)&block), 1);
    EXPECT_STREQ(block.payload.productName, "Tamberlyn");
    EXPECT_STREQ(block.payload.fileNames + 11, "Tamb.exe");
    EXPECT_EQ(block.payload.fileCount, 2);
    EXPECT_EQ(block.payload.progressRange, 123456);
}

TEST(SetupConfig, FindNoCase)
{
    struct Case {
        const char* text;
        const char* pattern;
        int expected;
    } cases[] = {
        {"C:\\Program Files\\Tamb\\Uninst.exe", "uninst", 23},
        {"C:\\UNINSTALL.EXE", "uninst", 4},
        {"C:\\tmp\\MyUninstaller.exe", "uninst", 10},
        {"C:\\Downloads\\Install.exe", "uninst", 0},
        {"D:\\UnInstallers\\Setup.exe", "uninst", 4},   // a folder name counts too
        {"uninst", "uninst", 1},
        {"uninst", "UNINSTALL", 0},                      // pattern longer than text
        {"abc", "", 1},
        {"", "", 1},
        {"", "a", 0},
        {"aaab", "aab", 2},
        {"xUNINS", "uninst", 0},                         // cut at the end of the text
        {"[@`{", "{", 4},                                // only letters fold
        {"@", "`", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findNoCase(c.text, c.pattern), c.expected) << c.text << " / " << c.pattern;
}
