// SPDX-License-Identifier: GPL-2.0-or-later
// Age filter texts: seconds and the normal form written back.
#include <gtest/gtest.h>

#include <cstring>

#include "perl/perl_hook.h"
#include "quelvan.h"

namespace {

struct age_case {
    const char *text;
    int size;
    int seconds;
    const char *after;  // the text after the call
};

const age_case age_cases[] = {
    {"5m", TEXT_SIZE, 300, "5m"},
    {"5 mins", TEXT_SIZE, 300, "5m"},
    {"5min", TEXT_SIZE, 300, "5m"},
    {"2hrs", TEXT_SIZE, 7200, "2hr"},
    {"2 hrs", TEXT_SIZE, 7200, "2hr"},
    {"1h", TEXT_SIZE, 3600, "1hr"},
    {"1 day", TEXT_SIZE, 86400, "1d"},
    {"3days", TEXT_SIZE, 259200, "3d"},
    {"45 secs", TEXT_SIZE, 45, "45s"},
    {"90", TEXT_SIZE, 90, "90s"},
    {"  90  ", TEXT_SIZE, 90, "90s"},
    {"+7s", TEXT_SIZE, 7, "7s"},
    {"007m", TEXT_SIZE, 420, "7m"},
    {"5m and more", TEXT_SIZE, 300, "5m"},
    {"-5m", TEXT_SIZE, -300, "-5m"},
    // not an age: the text stays as it was
    {"5M", TEXT_SIZE, 0, "5M"},
    {"1 hour", TEXT_SIZE, 0, "1 hour"},
    {"3w", TEXT_SIZE, 0, "3w"},
    {"5mx", TEXT_SIZE, 0, "5mx"},
    {"abc", TEXT_SIZE, 0, "abc"},
    {"m5", TEXT_SIZE, 0, "m5"},
    {"", TEXT_SIZE, 0, ""},
    {"   ", TEXT_SIZE, 0, "   "},
    {"-", TEXT_SIZE, 0, "-"},
    // zero is no age, but the text has been normalised already
    {"0m", TEXT_SIZE, 0, "0m"},
    {"0", TEXT_SIZE, 0, "0s"},
    {"00 mins", TEXT_SIZE, 0, "0m"},
    // a short buffer cuts the normal form, not the seconds
    {"5m", 2, 300, "5"},
    {"5", 1, 5, ""},
    {"2 hrs", 3, 7200, "2h"},
    // beyond 32 bits: refused, never wrapped
    {"2147483647", TEXT_SIZE, 2147483647, "2147483647s"},
    {"-2147483648", TEXT_SIZE, -2147483647 - 1, "-2147483648s"},
    {"2147483648", TEXT_SIZE, 0, "2147483648"},
    {"99999999999999999999999m", TEXT_SIZE, 0, "99999999999999999999999m"},
    {"24855d", TEXT_SIZE, 2147472000, "24855d"},
    {"24856d", TEXT_SIZE, 0, "24856d"},
    {"596524 hrs", TEXT_SIZE, 0, "596524 hrs"},
    {"35791395m", TEXT_SIZE, 0, "35791395m"},
    {"-35791395m", TEXT_SIZE, 0, "-35791395m"},
};

TEST(AgeFilter, SecondsAndNormalForm)
{
    for (const age_case &c : age_cases) {
        char text[TEXT_SIZE];
        memset(text, 'X', sizeof text);
        strcpy(text, c.text);
        EXPECT_EQ(parse_age_filter(text, c.size), c.seconds) << "text \"" << c.text << "\"";
        EXPECT_STREQ(text, c.after) << "text \"" << c.text << "\" size " << c.size;
    }
}

TEST(AgeFilter, LongestTextStaysInItsBuffer)
{
    char text[TEXT_SIZE];
    memset(text, '7', sizeof text - 1);
    text[TEXT_SIZE - 1] = '\0';
    EXPECT_EQ(parse_age_filter(text, TEXT_SIZE), 0);
    EXPECT_EQ(strlen(text), size_t{TEXT_SIZE - 1});

    memset(text, ' ', sizeof text - 1);
    text[0] = '1';
    text[TEXT_SIZE - 2] = 'd';
    EXPECT_EQ(parse_age_filter(text, TEXT_SIZE), 86400);
    EXPECT_STREQ(text, "1d");
}

}  // namespace
