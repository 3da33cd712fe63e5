// SPDX-License-Identifier: GPL-2.0-or-later
// Item selection and paging over tables filled in-process.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "screen_tables.h"

namespace {

namespace st = screen_tables;

constexpr int NOW = 1700000000;

std::vector<std::pair<long long, int>> shown;

void record(long long row, int idx) { shown.emplace_back(row, idx); }

// One walk as a redraw of a terminal of lines rows makes it; returns the matches.
int walk(int lines, std::vector<int> *candidates = nullptr)
{
    shown.clear();
    long long page_size = select_page_size(lines);
    long long begin = select_page_start(select_level_total(), page_size);
    std::vector<int> list;
    select_candidates(list);
    if (candidates)
        *candidates = list;
    int matched = select_walk(list, begin, pad + 6, lines - pad - 3, record);
    num_pages = select_page_count(matched, page_size);
    return matched;
}

class ScreenSelect : public testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        st::clear(NOW);
    }
    void TearDown() override { st::clear(); }
};

TEST_F(ScreenSelect, PageSizeAndPageCounts)
{
    EXPECT_EQ(select_page_size(24), 13);
    pad = 0;
    EXPECT_EQ(select_page_size(24), 15);
    pad = 3;
    EXPECT_EQ(select_page_size(24), 9);
    pad = 8;
    EXPECT_EQ(select_page_size(24), -1);

    EXPECT_EQ(select_page_count(0, 13), 0);
    EXPECT_EQ(select_page_count(13, 13), 1);
    EXPECT_EQ(select_page_count(14, 13), 2);
    EXPECT_EQ(select_page_count(27, 13), 3);
    EXPECT_EQ(select_page_count(250000, 1), 250000);
    // No item row: nothing to page, and no division.
    EXPECT_EQ(select_page_count(27, 0), 0);
    EXPECT_EQ(select_page_count(27, -4), 0);
}

TEST_F(ScreenSelect, PagesOfTwentySevenMatches)
{
    for (int i = 0; i < 27; i++)
        st::add((std::string("h").append(std::to_string(i))).c_str(), "svc", "OKAY", "OK", NOW - 10);
    struct row {
        int page;
        int first, count;
    } rows[] = {{1, 0, 13}, {2, 13, 13}, {3, 26, 1}, {0, 0, 13}};
    for (const auto &r : rows) {
        cur_page = r.page;
        EXPECT_EQ(walk(24), 27);
        EXPECT_EQ(num_pages, 3);
        ASSERT_EQ(shown.size(), static_cast<size_t>(r.count)) << "page " << r.page;
        for (int i = 0; i < r.count; i++) {
            EXPECT_EQ(shown[i].first, 7 + i);
            EXPECT_EQ(shown[i].second, r.first + i);
        }
    }
    // Past the end the page is lowered to the last one.
    cur_page = 9;
    walk(24);
    EXPECT_EQ(cur_page, 3);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, 26);
}

TEST_F(ScreenSelect, NothingAtTheLevelGivesPageZeroOfZero)
{
    st::add("web1", nullptr, "UP", "OK", NOW);
    object_mode = 0;
    host_level = 2;
    cur_page = 4;
    EXPECT_EQ(walk(24), 0);
    EXPECT_EQ(cur_page, 0);
    EXPECT_EQ(num_pages, 0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(ScreenSelect, PageCheckSeesTheLevelTotalNotTheFilters)
{
    // 100 hosts, 20 of them young enough for the age filter.
    for (int i = 0; i < 100; i++)
        st::add((std::string("h").append(std::to_string(i))).c_str(), nullptr, "UP", "OK",
                i % 5 == 0 ? NOW - 60 : NOW - 3600);
    object_mode = 0;
    filter_set = FILTER_AGE;
    age_filter_secs = 300;
    cur_page = 5;
    EXPECT_EQ(walk(24), 20);
    EXPECT_EQ(cur_page, 5);
    EXPECT_EQ(num_pages, 2);
    EXPECT_TRUE(shown.empty());

    // A filter that matches nothing leaves the page alone too.
    cur_page = 1;
    age_filter_secs = 10;
    EXPECT_EQ(walk(24), 0);
    EXPECT_EQ(cur_page, 1);
    EXPECT_EQ(num_pages, 0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(ScreenSelect, LevelsAdmitEveryItemAtOrAboveThem)
{
    const char *states[] = {"OKAY", "WARNING", "CRITICAL", "UNKNOWN", "PENDING", nullptr,
                            "OKAY", "CRITICAL"};
    for (const char *s : states)
        st::add("h", "svc", s, "x", NOW);
    struct row {
        int level;
        std::vector<int> idx;
        int total;
    } rows[] = {{0, {0, 1, 2, 3, 4, 5, 6, 7}, 8}, {1, {1, 2, 3, 4, 5, 7}, 6}, {2, {2, 7}, 2}};
    for (const auto &r : rows) {
        service_level = r.level;
        std::vector<int> list;
        EXPECT_EQ(walk(24, &list), r.total);
        EXPECT_EQ(list, r.idx);
        EXPECT_EQ(select_level_total(), r.total);
    }

    st::add("up1", nullptr, "UP", "x", NOW);
    st::add("down1", nullptr, "DOWN", "x", NOW);
    st::add("odd", nullptr, nullptr, "x", NOW);  // no state: level 1, in neither count
    st::add("down2", nullptr, "DOWN", "x", NOW);
    object_mode = 0;
    std::vector<int> list;
    EXPECT_EQ(walk(24, &list), 4);
    EXPECT_EQ(select_level_total(), 4);
    host_level = 2;
    EXPECT_EQ(walk(24, &list), 2);
    EXPECT_EQ(list, (std::vector<int>{1, 3}));
    EXPECT_EQ(select_level_total(), 2);
}

TEST_F(ScreenSelect, AgeOrderWalksTheAgeListAtTheLevel)
{
    st::add("a", "s", "CRITICAL", "x", NOW - 500);
    st::add("b", "s", "OKAY", "x", NOW - 10);
    st::add("c", "s", "CRITICAL", "x", NOW - 20);
    st::add("d", "s", "WARNING", "x", NOW - 5);
    st::add("e", "s", "CRITICAL", "x", NOW - 20);
    st::order_by_age();
    sort_mode = 1;
    std::vector<int> list;
    walk(24, &list);
    EXPECT_EQ(list, (std::vector<int>{3, 1, 2, 4, 0}));
    service_level = 2;
    walk(24, &list);
    EXPECT_EQ(list, (std::vector<int>{2, 4, 0}));
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], (std::pair<long long, int>{7, 2}));
    sort_mode = 0;
    walk(24, &list);
    EXPECT_EQ(list, (std::vector<int>{0, 2, 4}));
}

TEST_F(ScreenSelect, AgeFiltersAtTheirLimits)
{
    st::add("h", "exactly", "OKAY", "x", NOW - 300);
    st::add("h", "older", "OKAY", "x", NOW - 301);
    st::add("h", "future", "OKAY", "x", NOW + 5000);
    st::add("h", "old-warn", "WARNING", "x", NOW - 90000);
    st::add("h", "old-crit", "CRITICAL", "x", NOW - 90000);
    st::add("h", "far-past", "OKAY", "x", -2147483648LL);

    filter_set = FILTER_AGE;
    age_filter_secs = 300;
    walk(24);
    std::vector<int> idx;
    for (auto &s : shown)
        idx.push_back(s.second);
    EXPECT_EQ(idx, (std::vector<int>{0, 2}));

    filter_set = FILTER_OKAY_AGE;
    age_okay_filter_secs = 300;
    walk(24);
    idx.clear();
    for (auto &s : shown)
        idx.push_back(s.second);
    EXPECT_EQ(idx, (std::vector<int>{0, 2, 3, 4}));

    // Hosts: a DOWN host older than the limit stays, an UP host goes.
    st::add("up-old", nullptr, "UP", "x", NOW - 1000);
    st::add("down-old", nullptr, "DOWN", "x", NOW - 1000);
    st::add("up-new", nullptr, "UP", "x", NOW - 1);
    object_mode = 0;
    walk(24);
    idx.clear();
    for (auto &s : shown)
        idx.push_back(s.second);
    EXPECT_EQ(idx, (std::vector<int>{1, 2}));
}

TEST_F(ScreenSelect, FilterTextsOfHostsAndServices)
{
    st::add("web1", nullptr, "UP", "PING OK", NOW);
    st::add("db1", "Disk /", "OKAY", "DISK OK", NOW);
    st::add("bare", nullptr, "UP", nullptr, NOW);
    char text[TEXT_SIZE];
    object_mode = 0;
    select_filter_text(0, text);
    EXPECT_STREQ(text, "web1 PING OK");
    select_filter_text(1, text);
    EXPECT_STREQ(text, "bare ");
    object_mode = 1;
    select_filter_text(0, text);
    EXPECT_STREQ(text, "db1 db1 Disk / DISK OK");

    // Cut to 1023 bytes.
    std::string long_output(3000, 'o');
    st::add("h", "s", "OKAY", long_output.c_str(), NOW);
    select_filter_text(1, text);
    EXPECT_EQ(std::string(text), ("h h s " + long_output).substr(0, 1023));
}

TEST_F(ScreenSelect, ShortTerminalsShowNoRowAndKeepThePage)
{
    for (int i = 0; i < 5; i++)
        st::add("h", "s", "OKAY", "x", NOW);
    cur_page = 2;
    for (int lines : {0, 1, 5, 10, 11}) {
        EXPECT_EQ(walk(lines), 5) << lines;
        EXPECT_TRUE(shown.empty()) << lines;
        EXPECT_EQ(num_pages, 0) << lines;
        EXPECT_EQ(cur_page, 2) << lines;
    }
    // 12 lines with pad 1: one item row.
    EXPECT_EQ(walk(12), 5);
    EXPECT_EQ(num_pages, 5);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], (std::pair<long long, int>{7, 1}));
}

}  // namespace
