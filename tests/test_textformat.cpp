// Bounded text composition: what fits, what is cut, and formats from the configuration.
#include <gtest/gtest.h>

#include <string.h>

#include "app/textformat.h"

TEST(TextFormat, ComposesAndCutsAtTheBuffer)
{
    struct Case {
        int capacity;
        const char* expectedText;
        int expectedResult;
    } cases[] = {
        {64, "File12 in C:\\Demo: 100%", 23},
        {24, "File12 in C:\\Demo: 100%", 23},   // exactly fits with its terminator
        {23, "File12 in C:\\Demo: 100", -1},    // one short: cut, still terminated
        {5, "File", -1},
        {1, "", -1},
    };
    for (const Case& c : cases) {
        char buffer[80];
        memset(buffer, 'x', sizeof buffer);
        int result = formatText(buffer, c.capacity, "File%d in %s: %d%%", 12, "C:\\Demo", 100);
        EXPECT_EQ(result, c.expectedResult) << "capacity " << c.capacity;
        EXPECT_STREQ(buffer, c.expectedText) << "capacity " << c.capacity;
        EXPECT_EQ(buffer[c.capacity], 'x') << "wrote past capacity " << c.capacity;
    }
    char buffer[4] = "abc";
    EXPECT_EQ(formatText(buffer, 0, "%s", "x"), -1);
    EXPECT_STREQ(buffer, "abc");
}

TEST(TextFormat, ACutTextEndsOnAWholeUtf8Character)
{
    // "é" (2 bytes), "表" (3), "𝄞" (4): a cut inside one drops the whole
    // character, a cut after one keeps it.
    const char* text = "a\xC3\xA9\xE8\xA1\xA8\xF0\x9D\x84\x9E";
    struct Case {
        int capacity;
        const char* expected;
    } cases[] = {
        {2, "a"},
        {3, "a"},                                  // room for half of "é"
        {4, "a\xC3\xA9"},
        {5, "a\xC3\xA9"}, {6, "a\xC3\xA9"},
        {7, "a\xC3\xA9\xE8\xA1\xA8"},
        {8, "a\xC3\xA9\xE8\xA1\xA8"}, {10, "a\xC3\xA9\xE8\xA1\xA8"},
    };
    for (const Case& c : cases) {
        char buffer[16];
        EXPECT_EQ(formatText(buffer, c.capacity, "%s", text), -1) << c.capacity;
        EXPECT_STREQ(buffer, c.expected) << c.capacity;
    }
    char buffer[16];
    EXPECT_EQ(formatText(buffer, 11, "%s", text), 10);   // whole: nothing dropped
    EXPECT_STREQ(buffer, text);
    // Bytes that are no UTF-8 sequence at all are cut where they are.
    EXPECT_EQ(formatText(buffer, 3, "%s", "\x80\x80\x80"), -1);
    EXPECT_STREQ(buffer, "\x80\x80");
}

TEST(TextFormat, NumbersAndUnknownConversions)
{
    char buffer[64];
    EXPECT_EQ(formatText(buffer, sizeof buffer, "%d|%d|%d", 0, -45, -2147483647 - 1), 17);
    EXPECT_STREQ(buffer, "0|-45|-2147483648");
    formatText(buffer, sizeof buffer, "%x %", 7);   // unknown: copied, no argument taken
    EXPECT_STREQ(buffer, "%x %");
}

TEST(TextFormat, ConfigurationFormatsTakeOnlyTheName)
{
    struct Case {
        const char* format;
        const char* expected;
    } cases[] = {
        {"Uninstall %s", "Uninstall Demo"},
        {"%s %s", "Demo Demo"},             // every %s is the name, none reads past it
        {"%d%%%n", "%d%%n"},                // nothing else is a conversion
        {"", ""},
    };
    for (const Case& c : cases) {
        char buffer[32];
        formatWithName(buffer, sizeof buffer, c.format, "Demo");
        EXPECT_STREQ(buffer, c.expected) << c.format;
    }
    char shortBuffer[8];
    EXPECT_EQ(formatWithName(shortBuffer, sizeof shortBuffer, "Installing %s", "Demo"), -1);
    EXPECT_STREQ(shortBuffer, "Install");
}

TEST(TextFormat, AppendStopsAtTheBuffer)
{
    char path[16] = "C:\\Program";
    EXPECT_EQ(appendText(path, sizeof path, " Fil"), 14);
    EXPECT_EQ(appendText(path, sizeof path, "es"), -1);
    EXPECT_STREQ(path, "C:\\Program File");
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(appendText(unterminated, sizeof unterminated, "e"), -1);
}
