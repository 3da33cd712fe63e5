// SPDX-License-Identifier: GPL-2.0-or-later
// The texts of the screen: fields cut and padded in display columns, and the
// header texts of the settings.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "quelvan.h"
#include "screen/screen.h"

namespace {

class ScreenText : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
        settings_reset();
    }
};

TEST_F(ScreenText, NameFieldOfAsciiTextsIsThePrintfField)
{
    // 80 columns with pad 1: a name field of 40 columns.
    EXPECT_EQ(draw_name_field("web1 ", "OK", 40), "web1" + std::string(34, ' ') + "OK");

    // A 50-character output: the field takes its first 40 characters and the
    // name covers the first 10 of them.
    const std::string out = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
    EXPECT_EQ(draw_name_field("db1 Disk  ", out.c_str(), 40), "db1 Disk  " + out.substr(10, 30));

    // A short output never reaches the name.
    EXPECT_EQ(draw_name_field("h  ", "x", 5), "h   x");
    // An output that fills the field exactly is hidden under the name.
    EXPECT_EQ(draw_name_field("abc ", "0123456789", 10), "abc 456789");
}

TEST_F(ScreenText, NameLongerThanTheFieldIsCutToIt)
{
    EXPECT_EQ(draw_name_field("a-very-long-host-name ", "output", 10), "a-very-lon");
    EXPECT_EQ(draw_name_field("exactly10 ", "out", 10), "exactly10 ");
    EXPECT_EQ(draw_name_field("name ", "out", 0), "");
    EXPECT_EQ(draw_name_field("name ", "out", -3), "");
    // Absent texts are empty.
    EXPECT_EQ(draw_name_field(nullptr, nullptr, 4), "    ");
}

TEST_F(ScreenText, NameFieldCountsColumnsNotBytes)
{
    // "23°C" is 4 columns in 5 bytes: still right-aligned to the last column.
    std::string f = draw_name_field("srv1 ", "Temp 23°C", 20);
    EXPECT_EQ(f, "srv1       Temp 23°C");
    EXPECT_EQ(draw_width(f.c_str()), 20);

    // An umlaut in the name takes one column.
    f = draw_name_field("Müller ", "OK", 12);
    EXPECT_EQ(f, "Müller    OK");
    EXPECT_EQ(draw_width(f.c_str()), 12);

    // An output longer than the field is cut after whole characters.
    f = draw_name_field("h ", "ääääääääääää", 8);
    EXPECT_EQ(f, "h ääääää");

    // A wide character half under the name leaves a blank for its visible half.
    f = draw_name_field("ab ", "日本語", 6);
    EXPECT_EQ(f, "ab  語");
    EXPECT_EQ(draw_width(f.c_str()), 6);

    // A wide character that does not fit the field's end is left out and
    // the field is still exactly w columns.
    f = draw_name_field("", "日本語", 5);
    EXPECT_EQ(f, " 日本");
    EXPECT_EQ(draw_width(f.c_str()), 5);

    // A name cut inside the field never splits a character.
    f = draw_name_field("Ünïcödé-name ", "x", 5);
    EXPECT_EQ(f, "Ünïcö");
}

TEST_F(ScreenText, BytesThatAreNoCharacterShowAsOneColumnEach)
{
    // A stray Latin-1 byte, a cut UTF-8 sequence and control characters.
    EXPECT_EQ(draw_cut("caf\xe9!", 10), "caf?!");
    EXPECT_EQ(draw_cut("end\xe2\x82", 10), "end??");
    EXPECT_EQ(draw_cut("a\tb\x01" "c\x7f", 10), "a?b?c?");
    EXPECT_EQ(draw_width("caf\xe9!"), 5);
    std::string f = draw_name_field("h ", "bad\xff", 8);
    EXPECT_EQ(f, "h   bad?");
}

TEST_F(ScreenText, CutNeverSplitsACharacter)
{
    EXPECT_EQ(draw_cut("aé", 2), "aé");
    EXPECT_EQ(draw_cut("aé", 1), "a");
    EXPECT_EQ(draw_cut("a日", 2), "a");
    EXPECT_EQ(draw_cut("a日", 3), "a日");
    EXPECT_EQ(draw_cut("abc", 0), "");
    EXPECT_EQ(draw_cut("abc", -1), "");
    EXPECT_EQ(draw_cut(nullptr, 5), "");
    // A combining mark stays with its character.
    EXPECT_EQ(draw_cut("e\xcc\x81x", 1), "e\xcc\x81");
    EXPECT_EQ(draw_width("e\xcc\x81x"), 2);
}

TEST_F(ScreenText, StateAndChangeTexts)
{
    EXPECT_EQ(draw_state_text("UP"), "UP       ");
    EXPECT_EQ(draw_state_text("CRITICAL"), "CRITICAL ");
    EXPECT_EQ(draw_state_text("WARNINGS!"), "WARNINGS ");
    EXPECT_EQ(draw_state_text(nullptr), std::string(9, ' '));
    EXPECT_EQ(draw_state_text("ÄRGER"), "ÄRGER    ");

    EXPECT_EQ(draw_change_text("Thu Nov 24 18:22", "1d 2h"), " Thu Nov 24 18:22     1d 2h");
    EXPECT_EQ(draw_change_text(" not applicable ", "0m 0s"), "  not applicable      0m 0s");
    EXPECT_EQ(draw_change_text("Thu Nov 24 18:22 extra", "12345d 23h"),
              " Thu Nov 24 18:22  12345d 2");
    EXPECT_EQ(draw_change_text(nullptr, nullptr), std::string(27, ' '));
    EXPECT_EQ(draw_change_text("Thu Nov 24 18:22", "1d 2h").size(), 27u);
}

TEST_F(ScreenText, CountTextsAndTheirSingular)
{
    struct row {
        int mode, host, service, total;
        const char *text;
    } rows[] = {
        {0, 0, 0, 0, "0 Host Objects"},   {0, 0, 0, 1, "1 Host Object"},
        {0, 0, 0, 2, "2 Host Objects"},   {0, 2, 0, 1, "1 Down Host"},
        {0, 2, 0, 7, "7 Down Hosts"},     {1, 0, 0, 1, "1 Service Object"},
        {1, 0, 0, 250000, "250000 Service Objects"},
        {1, 0, 1, 1, "1 Alert"},          {1, 0, 1, 3, "3 Alerts"},
        {1, 0, 2, 0, "0 Alerts"},         {1, 0, 2, 1, "1 Alert"},
    };
    for (const auto &r : rows) {
        object_mode = r.mode;
        host_level = r.host;
        service_level = r.service;
        EXPECT_EQ(draw_count_text(r.total), r.text) << r.mode << r.host << r.service;
    }
}

TEST_F(ScreenText, StatusTextsOfTheSettings)
{
    EXPECT_EQ(draw_match_text(1), " 1 matches the filter");
    EXPECT_EQ(draw_match_text(0), " 0 match the filter");
    EXPECT_EQ(draw_match_text(12), " 12 match the filter");

    EXPECT_EQ(draw_age_text(), "Age: any");
    text_copy(age_filter, "5m");
    text_copy(age_okay_filter, "2h");
    filter_set = FILTER_OKAY_AGE;
    object_mode = 0;
    EXPECT_EQ(draw_age_text(), "Age: up < 2h");
    object_mode = 1;
    EXPECT_EQ(draw_age_text(), "Age: ok < 2h");
    filter_set = FILTER_AGE | FILTER_OKAY_AGE;
    EXPECT_EQ(draw_age_text(), "Age: all < 5m");

    EXPECT_EQ(draw_sort_text(), "Sort: by name");
    sort_mode = 1;
    EXPECT_EQ(draw_sort_text(), "Sort: by age");

    filter_set = 0;
    EXPECT_EQ(draw_filter_text(), "Filter: none");
    text_copy(name_filter, "web[0-9]");
    text_copy(not_name_filter, "test");
    filter_set = FILTER_NOT_REGEX;
    EXPECT_EQ(draw_filter_text(), "Filter: text !~ /test/");
    filter_set = FILTER_REGEX | FILTER_NOT_REGEX;
    EXPECT_EQ(draw_filter_text(), "Filter: text =~ /web[0-9]/");

    cur_page = 0;
    num_pages = 0;
    EXPECT_EQ(draw_page_text(), "page 0 of 0");
    cur_page = 5;
    num_pages = 2;
    EXPECT_EQ(draw_page_text(), "page 5 of 2");
}

TEST_F(ScreenText, ComposedTextsKeepTo1023BytesWithoutSplittingACharacter)
{
    filter_set = FILTER_REGEX;
    std::string pattern(1023, 'x');
    text_copy(name_filter, pattern.c_str());
    std::string text = draw_filter_text();
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text, ("Filter: text =~ /" + pattern).substr(0, 1023));

    // "Filter: text =~ /" is 17 bytes; 1006 more end in the middle of a "é".
    pattern = std::string(1005, 'x') + "éé";
    text_copy(name_filter, pattern.c_str());
    text = draw_filter_text();
    EXPECT_EQ(text, "Filter: text =~ /" + std::string(1005, 'x'));
}

}  // namespace
