// SPDX-License-Identifier: GPL-2.0-or-later
// draw_screen in-process on a real curses screen whose output goes nowhere:
// the screen's cells are read back, so every geometry can be tried quickly,
// down to terminals of one cell and pads far beyond the screen.
#include <climits>
#include <clocale>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <curses.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "screen_tables.h"

namespace {

namespace st = screen_tables;

constexpr int NOW = 1700000000;

// Row r of stdscr as UTF-8, trailing blanks dropped.
std::string row_text(int r)
{
    std::vector<wchar_t> w(static_cast<size_t>(COLS) + 1, L'\0');
    if (mvwinnwstr(stdscr, r, 0, w.data(), COLS) == ERR)
        return "";
    std::string out;
    char mb[MB_LEN_MAX];
    mbstate_t state{};
    for (size_t i = 0; i < w.size() && w[i]; i++) {
        size_t n = wcrtomb(mb, w[i], &state);
        if (n != static_cast<size_t>(-1))
            out.append(mb, n);
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

int pair_at(int r, int c) { return PAIR_NUMBER(mvwinch(stdscr, r, c) & A_COLOR); }

class ScreenDraw : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setlocale(LC_CTYPE, "C.UTF-8");
        out_ = fopen("/dev/null", "w");
        in_ = fopen("/dev/null", "r");
        screen_ = newterm("xterm-256color", out_, in_);
        ASSERT_NE(screen_, nullptr);
        draw_start_colors();
    }
    static void TearDownTestSuite()
    {
        endwin();
        delscreen(screen_);
        fclose(out_);
        fclose(in_);
    }
    void SetUp() override
    {
        settings_reset();
        st::clear(NOW);
        size(80, 24);
    }
    void TearDown() override { st::clear(); }

    static void size(int cols, int rows) { resizeterm(rows, cols); }

    static std::vector<std::string> screen()
    {
        std::vector<std::string> rows;
        for (int r = 0; r < LINES; r++)
            rows.push_back(row_text(r));
        return rows;
    }

    static SCREEN *screen_;
    static FILE *out_, *in_;
};

SCREEN *ScreenDraw::screen_ = nullptr;
FILE *ScreenDraw::out_ = nullptr;
FILE *ScreenDraw::in_ = nullptr;

TEST_F(ScreenDraw, WholeScreenOf80x24)
{
    text_copy(site_name, "Site");
    object_mode = 0;
    st::add("web1", nullptr, "UP", "OK", NOW - 100, "Tue Nov 14 22:11", "1m 40s");
    st::add("db1", nullptr, "DOWN", "CRITICAL - Host Unreachable (10.0.0.7)", NOW - 7200,
            "Tue Nov 14 20:13", "2h 0m");
    st::add("odd", nullptr, nullptr, "strange", NOW, "Tue Nov 14 22:13", "0m 0s");
    draw_screen();
    int y, x;
    getyx(stdscr, y, x);  // before reading the cells moves the cursor
    EXPECT_EQ(y, 22);
    EXPECT_EQ(x, 10);
    const std::vector<std::string> expected = {
        "",
        "  Site Quelvan v" QUELVAN_VERSION "               3 Host Objects          Tue Nov 14 22:13:20",
        "  Age: any                                                       Sort: by name",
        "  Filter: none                                                     page 1 of 1",
        "",
        " Status    Description                Plugin Output    Last Change     Duration",
        " --------  ----------------------------------------  ----------------  --------",
        " UP        web1                                  OK  Tue Nov 14 22:11    1m 40s",
        " DOWN      db1 ITICAL - Host Unreachable (10.0.0.7)  Tue Nov 14 20:13     2h 0m",
        "           odd                              strange  Tue Nov 14 22:13     0m 0s",
        "", "", "", "", "", "", "", "", "", "", "", "",
        " Command:",
        "",
    };
    EXPECT_EQ(screen(), expected);
    EXPECT_EQ(need_swipe, 0);
}

TEST_F(ScreenDraw, ServiceLinesAndFilterTexts)
{
    std::string output = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
    st::add("db1", "Disk", "WARNING", output.c_str(), NOW - 30, "Tue Nov 14 22:12", "0m 30s");
    st::add("db1", "Load", "OKAY", "load 0.1", NOW - 400, "Tue Nov 14 22:06", "6m 40s");
    filter_set = FILTER_AGE;
    age_filter_secs = 60;
    text_copy(age_filter, "1m");
    draw_screen();
    std::vector<std::string> rows = screen();
    EXPECT_EQ(rows[1], "   Quelvan v" QUELVAN_VERSION "                  2 Service Objects        Tue Nov 14 22:13:20");
    EXPECT_EQ(rows[2], "  Age: all < 1m                  1 matches the filter            Sort: by name");
    EXPECT_EQ(rows[3], "  Filter: none                                                     page 1 of 1");
    EXPECT_EQ(rows[7], " WARNING   db1 Disk  " + output.substr(10, 30) +
                           "  Tue Nov 14 22:12    0m 30s");
    EXPECT_EQ(rows[8], "");
}

TEST_F(ScreenDraw, ColoursOfItemLinesAndTheBase)
{
    st::add("h", "ok", "OKAY", "x", NOW);
    st::add("h", "warn", "WARNING", "x", NOW);
    st::add("h", "crit", "CRITICAL", "x", NOW);
    st::add("h", "none", nullptr, "x", NOW);
    draw_screen();
    for (int c : {0, 1, 40, 79}) {
        EXPECT_EQ(pair_at(0, c), 4);
        EXPECT_EQ(pair_at(1, c), 4);
        EXPECT_EQ(pair_at(7, c), 1) << c;
        EXPECT_EQ(pair_at(8, c), 2) << c;
        EXPECT_EQ(pair_at(9, c), 3) << c;
        EXPECT_EQ(pair_at(10, c), 2) << c;
        EXPECT_EQ(pair_at(11, c), 4) << c;
        EXPECT_EQ(pair_at(22, c), 4) << c;
        EXPECT_EQ(pair_at(23, c), 4) << c;
    }
    // Without colour nothing turns a pair on (a run starts with none in force).
    color = 0;
    wattrset(stdscr, A_NORMAL);
    std::vector<std::string> coloured = screen();
    draw_screen();
    EXPECT_EQ(screen(), coloured);  // the same layout
    for (int r : {0, 1, 7, 8, 9, 22})
        for (int c : {0, 5, 79})
            EXPECT_EQ(pair_at(r, c), 0) << r << "," << c;
}

TEST_F(ScreenDraw, SwipeIsConsumed)
{
    need_swipe = 1;
    draw_screen();
    EXPECT_EQ(need_swipe, 0);
    EXPECT_EQ(row_text(22), " Command:");
}

TEST_F(ScreenDraw, Utf8FieldsKeepTheirColumns)
{
    object_mode = 0;
    st::add("Küche-Sensor", nullptr, "UP", "Temperatur 23°C – gut", NOW - 5,
            "Tue Nov 14 22:13", "0m 5s");
    st::add("東京", nullptr, "DOWN", "接続できません", NOW - 5, "Tue Nov 14 22:13", "0m 5s");
    draw_screen();
    EXPECT_EQ(row_text(7), " UP        Küche-Sensor       Temperatur 23°C – gut  Tue Nov 14 22:13     0m 5s");
    EXPECT_EQ(row_text(8), " DOWN      東京                      接続できません  Tue Nov 14 22:13     0m 5s");
    // The change text starts at column 52 whatever came before it.
    for (int r : {7, 8}) {
        wchar_t w[4] = {};
        mvwinnwstr(stdscr, r, 53, w, 3);
        EXPECT_EQ(std::wstring(w), L"Tue") << r;
    }
}

TEST_F(ScreenDraw, PaddingsMoveEveryRowAndColumn)
{
    text_copy(site_name, "S");
    pad = 2;
    header_pad = 4;
    object_mode = 0;
    st::add("web1", nullptr, "UP", "OK", NOW, "Tue Nov 14 22:13", "0m 0s");
    draw_screen();
    std::vector<std::string> rows = screen();
    EXPECT_EQ(rows[2], "    S Quelvan v" QUELVAN_VERSION "                 1 Host Object        Tue Nov 14 22:13:20");
    EXPECT_EQ(rows[3], "    Age: any                                                   Sort: by name");
    EXPECT_EQ(rows[4], "    Filter: none                                                 page 1 of 1");
    EXPECT_EQ(rows[6], "  Status    Description              Plugin Output    Last Change     Duration");
    EXPECT_EQ(rows[7], "  --------  --------------------------------------  ----------------  --------");
    EXPECT_EQ(rows[8], "  UP        web1                                OK  Tue Nov 14 22:13     0m 0s");
    EXPECT_EQ(rows[21], "  Command:");
    // page_size 11: item rows 8 to 18.
    for (int i = 1; i < 30; i++)
        st::add((std::string("h").append(std::to_string(i))).c_str(), nullptr, "UP", "OK", NOW);
    draw_screen();
    EXPECT_EQ(row_text(18).substr(0, 13), "  UP        h");
    EXPECT_EQ(row_text(19), "");
    EXPECT_EQ(row_text(4).substr(row_text(4).size() - 11), "page 1 of 3");
}

// Terminals too small for the layout and paddings beyond the screen: the
// redraw ends, writes only what fits, and no text wraps onto another row.
TEST_F(ScreenDraw, AnySizeAndPaddingDrawsWithinTheScreen)
{
    text_copy(site_name, std::string(2000, '#').c_str());
    for (int i = 0; i < 40; i++)
        st::add(("host-with-a-rather-long-name-" + std::to_string(i)).c_str(), "svc", "WARNING",
                std::string(300, '@').c_str(), NOW);
    filter_set = FILTER_AGE;
    age_filter_secs = 10;
    text_copy(age_filter, std::string(1000, 'a').c_str());
    struct geometry {
        int cols, rows, pad, header_pad;
    } geometries[] = {
        {1, 1, 1, 2},     {2, 3, 1, 2},       {10, 5, 1, 2},     {38, 24, 0, 0},
        {39, 24, 0, 0},   {40, 24, 1, 2},     {41, 24, 1, 2},    {80, 11, 1, 2},
        {80, 12, 1, 2},   {80, 24, -3, -5},   {80, 24, 50, 2},   {80, 24, INT_MAX, INT_MAX},
        {80, 24, INT_MIN, INT_MIN},           {300, 60, 1, 2},   {1100, 30, 1, 2},
    };
    for (const auto &g : geometries) {
        SCOPED_TRACE(testing::Message() << g.cols << "x" << g.rows << " pad " << g.pad
                                        << " header_pad " << g.header_pad);
        size(g.cols, g.rows);
        ASSERT_EQ(COLS, g.cols);
        ASSERT_EQ(LINES, g.rows);
        pad = g.pad;
        header_pad = g.header_pad;
        cur_page = 2;
        draw_screen();
        EXPECT_GE(num_pages, 0);
        int y, x;
        getyx(stdscr, y, x);
        EXPECT_TRUE(y >= 0 && y < LINES && x >= 0 && x < COLS);
        // The site name stays on the title row, outputs on the item rows.
        std::vector<std::string> rows = screen();
        for (int r = 0; r < LINES; r++) {
            if (rows[r].find('#') != std::string::npos) {
                EXPECT_EQ(r, g.pad) << rows[r];
            }
            if (rows[r].find('@') != std::string::npos) {
                EXPECT_GE(r, static_cast<long long>(g.pad) + 6) << rows[r];
                EXPECT_LE(r, static_cast<long long>(LINES) - g.pad - 4) << rows[r];
            }
        }
    }

    // A narrow terminal: each row holds its own texts, cut at the edge.
    size(30, 24);
    pad = 1;
    header_pad = 2;
    cur_page = 1;
    site_name[0] = '\0';
    draw_screen();
    std::vector<std::string> rows = screen();
    // Where texts meet, the later one wins, as on any screen too narrow for them.
    EXPECT_EQ(rows[1], "   Quelv4Tue Nov 14 22:13:20");
    EXPECT_EQ(rows[5], " S   Last Change     Duration");
    EXPECT_EQ(rows[6], " - ----------------  --------");
    EXPECT_EQ(rows[7], " W Tue Nov 14 22:13     0m 0s");
    EXPECT_EQ(rows[22], " Command:");
}

TEST_F(ScreenDraw, ResizedTerminalIsDrawnAtItsNewSize)
{
    st::add("h", "s", "OKAY", "out", NOW, "Tue Nov 14 22:13", "0m 0s");
    draw_screen();
    size(100, 30);
    draw_screen();
    EXPECT_EQ(row_text(28), " Command:");
    EXPECT_EQ(row_text(7), " OKAY      h s                                                      out  Tue Nov 14 22:13     0m 0s");
    size(60, 15);
    draw_screen();
    EXPECT_EQ(row_text(13), " Command:");
    EXPECT_EQ(row_text(7), " OKAY      h s              out  Tue Nov 14 22:13     0m 0s");
}

TEST_F(ScreenDraw, DebugLinesOfARedraw)
{
    debugging = 1;
    object_mode = 0;
    st::add("web1", nullptr, "UP", "OK", NOW);
    st::add("web2", nullptr, "UP", "OK", NOW);
    testing::internal::CaptureStderr();
    draw_screen();
    object_mode = 1;
    st::add("db1", "Disk", "OKAY", "OK", NOW);
    draw_screen();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "draw_screen()...\r\nobject_mode is 0\r\nhost_level is 0\r\nservice_level is 0\r\n"
              "sort_mode is 0\r\nfilter_set is 0\r\npage_size (items per page) is 13\r\n"
              "begin_item is 0\r\n"
              "DISPLAY: item  1 line  7 idx   0: host=web1\r\n"
              "DISPLAY: item  2 line  8 idx   1: host=web2\r\n"
              "items_matched is 2\r\ntotal_items_matched is 2\r\n"
              "cur_page is 1\r\nnum_pages is 1\r\ndone with draw_screen()\r\n\r\n"
              "draw_screen()...\r\nobject_mode is 1\r\nhost_level is 0\r\nservice_level is 0\r\n"
              "sort_mode is 0\r\nfilter_set is 0\r\npage_size (items per page) is 13\r\n"
              "begin_item is 0\r\n"
              "DISPLAY: item  1 line  7 idx   0: host=db1 svc=db1 Disk\r\n"
              "items_matched is 1\r\ntotal_items_matched is 1\r\n"
              "cur_page is 1\r\nnum_pages is 1\r\ndone with draw_screen()\r\n\r\n");
}

}  // namespace
