// SPDX-License-Identifier: GPL-2.0-or-later
// What the live tests do on the console's screen (80x24): find an item's
// row, wait for it to read a certain way, open an item's detail screen and
// answer a prompt.
#ifndef TESTS_LIVE_TTY_H
#define TESTS_LIVE_TTY_H

#include <gtest/gtest.h>

#include <string>

#include "harness.h"

// The item row (first to last, 7 to 19 of 24 rows) of the screen that
// holds text, or "".
inline std::string live_row_with(const tty &t, const std::string &text, int first = 7,
                                 int last = 19)
{
    for (int r = first; r <= last; r++)
        if (tty_row(t, r).find(text) != std::string::npos)
            return tty_row(t, r);
    return "";
}

inline bool live_wait_row(const tty &t, const std::string &text, const std::string &begins,
                          int timeout_ms = WAIT_MS, int first = 7, int last = 19)
{
    return harness_poll([&] { return live_row_with(t, text, first, last).rfind(begins, 0) == 0; },
                        timeout_ms);
}

// Opens the detail screen of the one item of the view that passes filter.
inline void live_open(const tty &t, const std::string &filter)
{
    tty_type(t, "x");
    tty_type(t, "/");
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " Filter:")) << tty_screen(t);
    tty_type(t, filter);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " 1 matches the filter")) << tty_screen(t);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " Detail ")) << tty_screen(t);
}

// Answers a prompt of the command row.
inline void live_answer(const tty &t, const std::string &prompt, const std::string &text)
{
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " " + prompt)) << tty_screen(t);
    tty_type(t, text);
    tty_keys(t, {"Enter"});
}

#endif
