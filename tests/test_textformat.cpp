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
