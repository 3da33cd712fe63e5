// SPDX-License-Identifier: GPL-2.0-or-later
// The help screen in a real terminal.
#include <csignal>
#include <cstdio>
#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "guarded_tty.h"
#include "harness.h"
#include "keys_tty.h"

namespace {

const long CREATED = 1700000000;

tty start_with_help(const std::string &dir, const std::string &help_text)
{
    write_defaults(dir, status_file(CREATED, services("svc", 2, 0, CREATED)));
    write_file(help_path(dir), help_text);
    return tty_start(dir, {"-b"});
}

TEST(HelpScreen, ShowsTheFileFromRowZeroUntilAnyKey)
{
    const std::string dir = test_dir();
    tty t = start_with_help(dir, "first line\n\tsecond, after a tab\nthird\n");
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());

    for (const char *key : {"?", "h"}) {
        SCOPED_TRACE(key);
        log.mark();
        tty_type(t, key);
        ASSERT_TRUE(wait_row(t, 0, "first line")) << tty_screen(t);
        EXPECT_NE(log.since().find("help"), std::string::npos);
        EXPECT_EQ(tty_row(t, 1), "        second, after a tab");
        EXPECT_EQ(tty_row(t, 2), "third");
        for (int r = 3; r < 24; r++)
            EXPECT_EQ(tty_row(t, r), "") << r;
        EXPECT_EQ(tty_cursor(t), "23,0");

        // The key that leaves the help screen does nothing else: "q" does
        // not quit, F5 applies no filter.
        std::string sent = keys_then_beep(t, log, {std::string(key) == "?" ? "q" : "F5"});
        EXPECT_EQ(sent.find("quit"), std::string::npos) << sent;
        EXPECT_EQ(sent.find("no filter defined!"), std::string::npos) << sent;
        EXPECT_TRUE(wait_row(t, 22, " Command:")) << tty_screen(t);
        EXPECT_FALSE(tty_screen(t).find("first line") != std::string::npos);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(HelpScreen, ShowsOnlyAsManyLinesAsTheScreenHas)
{
    const std::string dir = test_dir();
    std::string text;
    for (int i = 1; i <= 40; i++)
        text += "help line " + std::to_string(i) + "\n";
    tty t = start_with_help(dir, text);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "?");
    ASSERT_TRUE(wait_row(t, 0, "help line 1")) << tty_screen(t);
    ASSERT_TRUE(wait_row(t, 23, "help line 24")) << tty_screen(t);
    EXPECT_EQ(tty_screen(t).find("help line 25"), std::string::npos) << tty_screen(t);
    EXPECT_EQ(tty_cursor(t), "23,0");
    tty_type(t, "x");
    EXPECT_TRUE(wait_row(t, 22, " Command:")) << tty_screen(t);
}

TEST(HelpScreen, AWideLineWrapsAndTheNextLineOverwritesItsTail)
{
    const std::string dir = test_dir();
    tty t = start_with_help(dir, std::string(100, 'a') + "\nnext\n" + std::string(2000, 'b') + "\nlast\n");
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "?");
    ASSERT_TRUE(wait_row(t, 1, "next")) << tty_screen(t);
    EXPECT_EQ(tty_row(t, 0), std::string(80, 'a'));
    // A line of 2000 characters comes in pieces of 1023, each from a row of
    // its own: the second piece starts on row 3, "last" lands on row 4.
    EXPECT_EQ(tty_row(t, 2), std::string(80, 'b'));
    EXPECT_EQ(tty_row(t, 3), std::string(80, 'b'));
    EXPECT_EQ(tty_row(t, 4), "last");
}

TEST(HelpScreen, AnEmptyFileShowsAnEmptyScreen)
{
    const std::string dir = test_dir();
    tty t = start_with_help(dir, "");
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "h");
    ASSERT_TRUE(tty_wait_gone(t, "Command:")) << tty_screen(t);
    for (int r = 0; r < 24; r++)
        EXPECT_EQ(tty_row(t, r), "") << r;
    tty_keys(t, {"Enter"});
    EXPECT_TRUE(wait_row(t, 22, " Command:")) << tty_screen(t);
}

// The help file removed before "?": the fopen message after the screen has
// been ended (keypad transmit off, the terminal's modes as before), status 1.
TEST(HelpScreen, AMissingFileEndsTheConsoleWithItsReason)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, services("svc", 2, 0, CREATED)));
    tty t = guarded_start(dir, {"-b"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    log.mark();
    std::remove(help_path(dir).c_str());
    tty_type(t, "?");
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 1);
    EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
    EXPECT_EQ(tty_stderr(t),
              "fatal error: fopen etc/quelvan.help failed: No such file or directory\n");
    EXPECT_TRUE(log.wait("\x1b[?1l")) << printable(log.since());
}

TEST(HelpScreen, TheShippedHelpFileNamesEveryKeyAndFitsTheScreen)
{
    const std::string text = read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.help");
    int lines = 0;
    size_t widest = 0;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        lines++;
        widest = std::max(widest, end - at);
    }
    EXPECT_LE(lines, 24);
    EXPECT_LE(widest, 80u);
    for (const char *key : {"space", "Ctrl-F", "Ctrl-B", "Ctrl-L", "Ctrl-D", "F1", "F12", " + ",
                            " - ", " < ", " > ", " 0 ", " G ", " r ", " s ", " t ", " u ", " d ",
                            " o ", " w ", " c ", " / ", " = ", " f ", " g ", " ! ", " F ", " v ",
                            " a ", " A ", " x ", " ? ", " h ", " q ", " H ", "Home", "End",
                            "PageDown", "PageUp"})
        EXPECT_NE(text.find(key), std::string::npos) << key;
}

}  // namespace
