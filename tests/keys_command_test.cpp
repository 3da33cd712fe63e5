// SPDX-License-Identifier: GPL-2.0-or-later
// Key commands carried out in-process on a real curses screen whose keyboard
// is a pipe and whose terminal output is kept in a file, so that the settings
// each key leaves behind, its beeps and its messages can all be checked.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include <curses.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "keys/keys.h"
#include "quelvan.h"

namespace {

class KeyCommand : public testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        polling_interval = 0;  // no SIGALRM may reach the test program
        ASSERT_EQ(pipe(keyboard_), 0);
        in_ = fdopen(keyboard_[0], "r");
        out_ = tmpfile();
        ASSERT_TRUE(in_ && out_);
        screen_ = newterm("screen", out_, in_);
        ASSERT_NE(screen_, nullptr);
        set_term(screen_);
        curses_active = true;
        keypad(stdscr, TRUE);
        cbreak();
        noecho();
        wmove(stdscr, LINES - pad - 1, pad);
        waddnstr(stdscr, "Command: ", -1);
        wrefresh(stdscr);
        seen_ = output().size();
    }

    void TearDown() override
    {
        endwin();
        delscreen(screen_);
        curses_active = false;
        close(keyboard_[1]);
        fclose(in_);
        fclose(out_);
    }

    // Keys that a prompt will read.
    void type(const std::string &text)
    {
        ASSERT_EQ(write(keyboard_[1], text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }

    std::string output()
    {
        fflush(out_);
        std::string all;
        char buf[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(fileno(out_), buf, sizeof buf, at)) > 0; at += n)
            all.append(buf, static_cast<size_t>(n));
        return all;
    }

    // What the terminal was sent since the last call.
    std::string sent()
    {
        std::string all = output();
        std::string fresh = all.substr(seen_);
        seen_ = all.size();
        return fresh;
    }

    // Carries out a key on a command row that reads "Command: ", as the
    // draw leaves it.
    bool run(int key)
    {
        wmove(stdscr, LINES - pad - 1, 0);
        wclrtoeol(stdscr);
        wmove(stdscr, LINES - pad - 1, pad);
        waddnstr(stdscr, "Command: ", -1);
        wrefresh(stdscr);
        sent();
        return keys_execute(key);
    }

    // The command row as the terminal was last told to show it.
    std::string command_row()
    {
        char row[TEXT_SIZE] = "";
        mvwinnstr(stdscr, LINES - pad - 1, 0, row, COLS);
        std::string s(row);
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }

    int keyboard_[2] = {-1, -1};
    FILE *in_ = nullptr;
    FILE *out_ = nullptr;
    SCREEN *screen_ = nullptr;
    size_t seen_ = 0;
};

bool has_beep(const std::string &s) { return s.find('\a') != std::string::npos; }

// --- paging ---

struct paging_case {
    const char *what;
    int pages, page, direction;
    int key;
    int want_page, want_direction;
    const char *message;  // "" for none
};

const paging_case paging_cases[] = {
    {"plus on page 1 of 3", 3, 1, 0, '+', 2, 0, "page down"},
    {"ctrl-f on page 2 of 3", 3, 2, 0, 6, 3, 0, "page down"},
    {"greater on the last page", 3, 3, 0, '>', 3, 0, ""},
    {"minus on page 3", 3, 3, 0, '-', 2, 0, "page up"},
    {"ctrl-b on page 2", 3, 2, 0, 2, 1, 0, "page up"},
    {"less on page 1", 3, 1, 0, '<', 1, 0, ""},
    {"zero on page 3", 3, 3, 0, '0', 1, 0, "first page"},
    {"zero on page 1", 3, 1, 0, '0', 1, 0, ""},
    {"G on page 1", 3, 1, 0, 'G', 3, 0, "last page"},
    {"G on the last page", 3, 3, 0, 'G', 3, 0, ""},
    {"space on the only page", 1, 1, 0, ' ', 1, 0, ""},
    {"plus on the only page", 1, 1, 0, '+', 1, 0, ""},
    {"G on the only page", 1, 1, 0, 'G', 1, 0, ""},
    {"space turns up at the last page", 3, 3, 0, ' ', 2, 1, "page up"},
    {"space turns down at the first page", 3, 1, 1, ' ', 2, 0, "page down"},
    // Page 0 of 3: an empty selection before a re-read brought items.
    {"plus on page 0 of 3", 3, 0, 0, '+', 1, 0, "page down"},
    {"minus on page 0 of 3", 3, 0, 0, '-', 0, 0, ""},
    {"space on page 0 of 3", 3, 0, 0, ' ', 1, 0, "page down"},
    {"space going up on page 0 of 3", 3, 0, 1, ' ', 1, 0, "page down"},
    {"zero on page 0 of 3", 3, 0, 0, '0', 1, 0, "first page"},
    {"G on page 0 of 3", 3, 0, 0, 'G', 3, 0, "last page"},
    // An empty selection leaves page 0 or page 1 of 0: nowhere to go.
    {"space with no page", 0, 0, 0, ' ', 0, 0, ""},
    {"space on page 1 of 0", 0, 1, 0, ' ', 1, 0, ""},
    {"space going up on page 1 of 0", 0, 1, 1, ' ', 1, 1, ""},
    {"G with no page", 0, 0, 0, 'G', 0, 0, ""},
    {"zero with no page", 0, 0, 0, '0', 0, 0, ""},
    {"minus with no page", 0, 0, 0, '-', 0, 0, ""},
};

TEST_F(KeyCommand, PagingKeys)
{
    for (const paging_case &c : paging_cases) {
        SCOPED_TRACE(c.what);
        num_pages = c.pages;
        cur_page = c.page;
        spacebar_direction = c.direction;
        need_swipe = 0;
        EXPECT_FALSE(run(c.key));
        std::string out = sent();
        EXPECT_EQ(cur_page, c.want_page);
        EXPECT_EQ(spacebar_direction, c.want_direction);
        if (c.message[0] != '\0') {
            EXPECT_EQ(command_row(), std::string(" Command: ") + c.message);
            EXPECT_EQ(need_swipe, 1);
        } else {
            EXPECT_EQ(out, "");
            EXPECT_EQ(need_swipe, 0);
        }
    }
}

TEST_F(KeyCommand, FiveSpacesFromPageOneOfThreeTurnAtBothEnds)
{
    num_pages = 3;
    const int pages[] = {2, 3, 2, 1, 2};
    const char *messages[] = {"page down", "page down", "page up", "page up", "page down"};
    for (int i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(run(' '));
        EXPECT_EQ(cur_page, pages[i]);
        EXPECT_EQ(command_row(), std::string(" Command: ") + messages[i]);
    }
    EXPECT_EQ(spacebar_direction, 0);
}

// --- modes and order ---

struct mode_case {
    const char *what;
    int mode, host, service;  // before
    int key;
    int want_mode, want_host, want_service;
    const char *message;  // "" when the key only beeps
};

const mode_case mode_cases[] = {
    {"u from services", 1, 2, 0, 'u', 0, 0, 0, "up mode"},
    {"u in up mode", 0, 0, 1, 'u', 0, 0, 1, ""},
    {"d from up mode", 0, 0, 0, 'd', 0, 2, 0, "down mode"},
    {"d in down mode", 0, 2, 0, 'd', 0, 2, 0, ""},
    {"o from warning mode", 1, 0, 1, 'o', 1, 0, 0, "okay mode"},
    {"o in okay mode", 1, 0, 0, 'o', 1, 0, 0, ""},
    {"w while warnings are shown", 1, 0, 1, 'w', 1, 0, 1, ""},
    {"w while hosts are shown", 0, 0, 1, 'w', 1, 0, 1, "warning mode"},
    {"c from okay mode", 1, 0, 0, 'c', 1, 0, 2, "critical mode"},
    {"c in critical mode", 1, 0, 2, 'c', 1, 0, 2, ""},
};

TEST_F(KeyCommand, ModeKeys)
{
    for (const mode_case &c : mode_cases) {
        SCOPED_TRACE(c.what);
        object_mode = c.mode;
        host_level = c.host;
        service_level = c.service;
        cur_page = 2;
        need_swipe = 0;
        EXPECT_FALSE(run(c.key));
        std::string out = sent();
        EXPECT_EQ(object_mode, c.want_mode);
        EXPECT_EQ(host_level, c.want_host);
        EXPECT_EQ(service_level, c.want_service);
        if (c.message[0] != '\0') {
            EXPECT_EQ(command_row(), std::string(" Command: ") + c.message);
            EXPECT_FALSE(has_beep(out));
            EXPECT_EQ(cur_page, 1);
            EXPECT_EQ(need_swipe, 1);
        } else {
            EXPECT_EQ(out, "\a");
            EXPECT_EQ(cur_page, 2);
            EXPECT_EQ(need_swipe, 0);
        }
    }
}

TEST_F(KeyCommand, SortKeysToggleAndKeepThePage)
{
    cur_page = 2;
    EXPECT_FALSE(run('s'));
    EXPECT_EQ(sort_mode, 1);
    EXPECT_EQ(command_row(), " Command: sort by age");
    EXPECT_FALSE(run('t'));
    EXPECT_EQ(sort_mode, 0);
    EXPECT_EQ(command_row(), " Command: sort by name");
    EXPECT_EQ(cur_page, 2);
    EXPECT_EQ(need_swipe, 1);
}

// --- filters ---

struct filter_state {
    int bits;
    const char *name, *not_name, *age, *okay_age;
    int age_secs, okay_age_secs;
};

struct prompt_case {
    const char *what;
    filter_state before;
    int mode;
    int key;
    const char *typed;
    filter_state after;
    int want_page;            // the page starts at 3
    const char *shown;        // on the command row, "" for nothing to check
    bool beeps;
};

const prompt_case prompt_cases[] = {
    {"regex filter against the negative one", {2, "", "old", "", "", 0, 0}, 1, '/', "web\n",
     {1, "web", "", "", "", 0, 0}, 1, "Filter: web", false},
    {"regex filter with slashes keeps them", {0, "", "", "", "", 0, 0}, 1, 'g', "/a/\n",
     {1, "/a/", "", "", "", 0, 0}, 1, "", false},
    {"empty regex answer", {7, "web", "neg", "5m", "", 300, 0}, 1, 'f', "\n",
     {6, "", "neg", "5m", "", 300, 0}, 1, "Filter:", false},
    {"negative filter against the regex one", {1, "web", "", "", "", 0, 0}, 1, '!', "db\n",
     {2, "", "db", "", "", 0, 0}, 1, "NegativeFilter: db", false},
    {"empty negative answer", {2, "", "db", "", "", 0, 0}, 1, 'F', "\n",
     {0, "", "", "", "", 0, 0}, 1, "", false},
    {"age filter against the okay-age one", {9, "w", "", "", "1d", 0, 86400}, 1, 'a', "2 hrs\n",
     {5, "w", "", "2hr", "", 7200, 86400}, 1, "AgeFilter: 2 hrs", false},
    {"age of a bare number", {0, "", "", "", "", 0, 0}, 1, 'a', "90\n",
     {4, "", "", "90s", "", 90, 0}, 1, "", false},
    {"empty age answer keeps the page and the text", {4, "", "", "5m", "", 300, 0}, 1, 'a', "\n",
     {0, "", "", "5m", "", 300, 0}, 3, "", false},
    {"age of zero minutes", {0, "", "", "", "", 0, 0}, 1, 'a', "0m\n",
     {0, "", "", "", "", 0, 0}, 3, "AgeFilter: 0m: syntax error!", true},
    {"okay age in host mode, abc", {4, "", "", "5m", "", 300, 0}, 0, 'A', "abc\n",
     {4, "", "", "5m", "", 300, 0}, 3, "UpAgeFilter: abc: syntax error!", true},
    {"okay age in service mode, abc", {0, "", "", "", "", 0, 0}, 1, 'A', "abc\n",
     {0, "", "", "", "", 0, 0}, 3, "OkayAgeFilter: abc: syntax error!", true},
    {"okay age against the age filter", {5, "x", "", "5m", "", 300, 0}, 1, 'A', "5 mins\n",
     {9, "x", "", "", "5m", 300, 300}, 1, "OkayAgeFilter: 5 mins", false},
    {"empty okay-age answer", {8, "", "", "", "1d", 0, 86400}, 0, 'A', "\n",
     {0, "", "", "", "1d", 0, 86400}, 3, "UpAgeFilter:", false},
};

void set_filters(const filter_state &s)
{
    filter_set = s.bits;
    strcpy(name_filter, s.name);
    strcpy(not_name_filter, s.not_name);
    strcpy(age_filter, s.age);
    strcpy(age_okay_filter, s.okay_age);
    age_filter_secs = s.age_secs;
    age_okay_filter_secs = s.okay_age_secs;
}

void expect_filters(const filter_state &s)
{
    EXPECT_EQ(filter_set, s.bits);
    EXPECT_STREQ(name_filter, s.name);
    EXPECT_STREQ(not_name_filter, s.not_name);
    EXPECT_STREQ(age_filter, s.age);
    EXPECT_STREQ(age_okay_filter, s.okay_age);
    EXPECT_EQ(age_filter_secs, s.age_secs);
    EXPECT_EQ(age_okay_filter_secs, s.okay_age_secs);
}

TEST_F(KeyCommand, PromptsWriteTheFilterState)
{
    for (const prompt_case &c : prompt_cases) {
        SCOPED_TRACE(c.what);
        set_filters(c.before);
        object_mode = c.mode;
        cur_page = 3;
        need_swipe = 0;
        type(c.typed);
        EXPECT_FALSE(run(c.key));
        std::string out = sent();
        expect_filters(c.after);
        EXPECT_EQ(cur_page, c.want_page);
        if (c.shown[0] != '\0') {
            EXPECT_EQ(command_row(), std::string(" ") + c.shown);
        }
        EXPECT_EQ(has_beep(out), c.beeps) << out;
        if (c.beeps) {
            EXPECT_EQ(need_swipe, 1);
        }
    }
}

TEST_F(KeyCommand, PromptStopsTheLineAt1023Characters)
{
    type(std::string(1100, 'p') + "\n");
    EXPECT_FALSE(run('/'));
    EXPECT_EQ(std::string(name_filter), std::string(1023, 'p'));
    EXPECT_EQ(filter_set, 1);
    EXPECT_TRUE(has_beep(sent()));  // the reader refuses what lies past the limit

    type(std::string(1100, '7') + "\n");
    EXPECT_FALSE(run('a'));
    EXPECT_EQ(filter_set, 1);  // far too many seconds: refused
}

TEST_F(KeyCommand, PromptWithoutALineChangesNothing)
{
    set_filters({5, "web", "", "5m", "", 300, 0});
    cur_page = 2;
    close(keyboard_[1]);  // the input ends under the prompt
    keyboard_[1] = dup(keyboard_[0]);
    EXPECT_FALSE(run('/'));
    EXPECT_FALSE(run('a'));
    expect_filters({5, "web", "", "5m", "", 300, 0});
    EXPECT_EQ(cur_page, 2);
}

TEST_F(KeyCommand, FunctionKeys)
{
    strcpy(fkey_name_filters[2], "both");
    strcpy(fkey_not_name_filters[2], "other");
    strcpy(fkey_not_name_filters[3], "neg");
    strcpy(fkey_name_filters[12], "twelve");
    strcpy(fkey_name_filters[0], "zero");

    set_filters({6, "", "old", "5m", "", 300, 0});
    cur_page = 2;
    EXPECT_FALSE(run(KEY_F(2)));
    expect_filters({5, "both", "", "5m", "", 300, 0});
    EXPECT_EQ(cur_page, 1);
    std::string out = sent();
    EXPECT_EQ(command_row(), " FkeyFilter: both");
    EXPECT_FALSE(has_beep(out));

    cur_page = 2;
    EXPECT_FALSE(run(KEY_F(3)));
    expect_filters({6, "", "neg", "5m", "", 300, 0});
    EXPECT_EQ(cur_page, 1);
    EXPECT_EQ(command_row(), " FkeyNegativeFilter: neg");

    EXPECT_FALSE(run(KEY_F(12)));
    EXPECT_STREQ(name_filter, "twelve");

    cur_page = 2;
    need_swipe = 0;
    EXPECT_FALSE(run(KEY_F(1)));
    expect_filters({5, "twelve", "", "5m", "", 300, 0});
    out = sent();
    EXPECT_EQ(command_row(), " FkeyFilter: no filter defined!");
    EXPECT_TRUE(has_beep(out));
    EXPECT_EQ(cur_page, 1);
    EXPECT_EQ(need_swipe, 1);

    // No key reaches slot 0, nor is there a thirteenth.
    EXPECT_FALSE(run(KEY_F(0)));
    EXPECT_FALSE(run(KEY_F(13)));
    EXPECT_EQ(sent(), "");
    EXPECT_STREQ(name_filter, "twelve");
}

TEST_F(KeyCommand, DeleteFiltersKeepsTheTexts)
{
    cur_page = 2;
    EXPECT_FALSE(run('x'));
    EXPECT_EQ(sent(), "");
    EXPECT_EQ(cur_page, 2);

    set_filters({5, "web", "", "5m", "", 300, 0});
    EXPECT_FALSE(run('x'));
    expect_filters({0, "web", "", "5m", "", 300, 0});
    EXPECT_EQ(command_row(), " Command: filter deleted");
    EXPECT_EQ(cur_page, 1);
    EXPECT_EQ(need_swipe, 1);
}

// --- the rest of the keyboard ---

TEST_F(KeyCommand, QuitKeys)
{
    EXPECT_TRUE(run('q'));
    EXPECT_EQ(command_row(), " Command: quit");
    EXPECT_TRUE(run(4));
}

TEST_F(KeyCommand, UnboundKeysBeepWhenPrintableAndAreIgnoredOtherwise)
{
    for (int key : {'z', '#', '~', 'Z', '1'}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(run(key));
        EXPECT_EQ(sent(), "\a");
    }
    for (int key : {1, 9, 27, 127, KEY_LEFT, KEY_NPAGE, KEY_RESIZE, ERR}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(run(key));
        EXPECT_EQ(sent(), "");
    }
    EXPECT_EQ(filter_set, 0);
    EXPECT_EQ(cur_page, 1);
}

// --- how long each message stays ---

// Every key that shows a message holds it for its pause before the redraw:
// ordinary messages 150 ms, filter labels 300 ms, errors 600 ms. Only a
// lower bound is checked: a loaded machine makes a key slower, never faster.
TEST_F(KeyCommand, EachMessageHoldsItsPause)
{
    struct pause_case {
        const char *what;
        std::function<void()> setup;
        int key;
        const char *typed;    // answer for a prompt, "" for none
        const char *row;  // the command row begins so while it holds
        int pause_ms;
    };
    auto pages = [](int page) {
        return [page] {
            num_pages = 3;
            cur_page = page;
        };
    };
    auto services = [] { object_mode = 1; };
    auto some_filter = [] {
        filter_set = FILTER_REGEX;
        strcpy(name_filter, "web");
    };
    auto slot5 = [](const char *positive, const char *negative) {
        return [positive, negative] {
            strcpy(fkey_name_filters[5], positive);
            strcpy(fkey_not_name_filters[5], negative);
        };
    };
    const pause_case cases[] = {
        {"page down", pages(1), '+', "", " Command: page down", 150},
        {"page up", pages(2), '-', "", " Command: page up", 150},
        {"space", pages(1), ' ', "", " Command: page down", 150},
        {"first page", pages(3), '0', "", " Command: first page", 150},
        {"last page", pages(1), 'G', "", " Command: last page", 150},
        {"sort", [] {}, 's', "", " Command: sort by age", 150},
        {"mode", services, 'u', "", " Command: up mode", 150},
        {"quit", [] {}, 'q', "", " Command: quit", 150},
        {"filter deleted", some_filter, 'x', "", " Command: filter deleted", 300},
        {"function key filter", slot5("web", ""), KEY_F(5), "", " FkeyFilter: web", 300},
        {"function key negative filter", slot5("", "db"), KEY_F(5), "",
         " FkeyNegativeFilter: db", 300},
        {"function key without filter", slot5("", ""), KEY_F(5), "",
         " FkeyFilter: no filter defined!", 600},
        {"age syntax error", [] {}, 'a', "5q\n", " AgeFilter: 5q: syntax error!", 600},
        {"okay age syntax error", services, 'A', "soon\n", " OkayAgeFilter: soon: syntax error!",
         600},
    };
    for (const pause_case &c : cases) {
        SCOPED_TRACE(c.what);
        settings_reset();
        polling_interval = 0;
        c.setup();
        if (*c.typed)
            type(c.typed);
        const auto start = std::chrono::steady_clock::now();
        run(c.key);
        const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        EXPECT_EQ(command_row().rfind(c.row, 0), 0u) << command_row();
        EXPECT_GE(held, c.pause_ms);
    }
}

}  // namespace
