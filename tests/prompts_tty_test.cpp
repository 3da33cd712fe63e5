// SPDX-License-Identifier: GPL-2.0-or-later
// The keyboard as a hostile source, through the real binary in a terminal:
// binary bytes and overlong answers at every prompt, the timer's signal
// while a prompt is open, a pattern Perl cannot compile, the help file gone.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "guarded_tty.h"
#include "harness.h"

namespace {

const long CREATED = 1700000000;

std::string some_services()
{
    std::string stanzas;
    for (int i = 0; i < 20; i++)
        stanzas += service_stanza("web" + std::to_string(i), "HTTP", i % 4,
                                  "output " + std::to_string(i), CREATED - 60 * i);
    return status_file(CREATED, stanzas);
}

// Bytes sent to the terminal as typed, whatever they are.
void type_bytes(const tty &t, const std::string &bytes)
{
    std::string cmd = "tmux -L " + t.socket + " send-keys -t q -H";
    char hex[4];
    for (unsigned char c : bytes) {
        snprintf(hex, sizeof hex, " %02x", c);
        cmd += hex;
    }
    harness_sh(cmd);
}

// Waits until the command row (the last but one of rows) reads "Command:"
// again: the prompt has been answered and the screen redrawn. The header
// shows active filters with the same words as the prompts.
bool wait_command_row(const tty &t, int rows, int timeout_ms = WAIT_MS)
{
    return harness_poll([&] { return tty_row(t, rows - 2).rfind(" Command:", 0) == 0; },
                        timeout_ms);
}

// Waits until the command row shows the prompt.
bool wait_prompt(const tty &t, int rows, const std::string &prompt, int timeout_ms = WAIT_MS)
{
    return harness_poll([&] { return tty_row(t, rows - 2).rfind(" " + prompt, 0) == 0; },
                        timeout_ms);
}

struct prompt_case {
    const char *key;
    const char *prompt;
};
const std::vector<prompt_case> PROMPTS = {
    {"/", "Filter:"}, {"!", "NegativeFilter:"}, {"a", "AgeFilter:"}, {"A", "OkayAgeFilter:"}};

// NUL, bytes above 127, escape sequences, control characters and answers
// far longer than the 1023 characters a setting holds, at every prompt.
TEST(Prompts, BinaryBytesAndOverlongAnswers)
{
    const std::string garbage = std::string("x\0\xff\xfe\x80\xc3(\x1b[2J\x1bOP\x07\x15\x7f", 15) +
                                "\xe2\x82\xac\x01\x02";
    const std::vector<std::string> answers = {garbage, std::string(5000, 'w'),
                                              std::string(3000, '\xe9'), garbage + garbage};
    for (const prompt_case &p : PROMPTS) {
        SCOPED_TRACE(p.key);
        const std::string dir = test_dir() + "/" + std::to_string(&p - PROMPTS.data());
        write_defaults(dir, some_services());
        tty t = guarded_start(dir, {"-i", "1"}, 100, 30);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        for (const std::string &answer : answers) {
            tty_type(t, p.key);
            ASSERT_TRUE(wait_prompt(t, 30, p.prompt)) << tty_screen(t);
            type_bytes(t, answer);
            tty_keys(t, {"Enter"});
            ASSERT_TRUE(wait_command_row(t, 30)) << tty_screen(t);
        }
        tty_type(t, "xq");
        guarded_end e = guarded_wait(t);
        EXPECT_EQ(e.status, 0) << tty_screen(t);
        EXPECT_TRUE(e.restored);
    }
}

// The timer's signal while a prompt is open neither cuts the answer short
// nor refreshes under it: the whole answer becomes the filter.
TEST(Prompts, TimerSignalWhileAPromptIsOpen)
{
    const std::string dir = test_dir();
    write_defaults(dir, some_services());
    tty t = guarded_start(dir, {"-i", "1"}, 100, 40);
    pid_t pid = guarded_pid(t);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(tty_wait(t, "web19")) << tty_screen(t);
    tty_type(t, "/");
    ASSERT_TRUE(wait_prompt(t, 40, "Filter:")) << tty_screen(t);
    tty_type(t, "web1");
    ASSERT_TRUE(tty_wait(t, "Filter: web1")) << tty_screen(t);
    // The answer will be "web17": web19 goes, web17 stays, web1 goes.
    for (int i = 0; i < 5; i++) {
        kill(pid, SIGALRM);
        harness_pause(300);
    }
    // Two timer periods with the prompt still open.
    harness_pause(2500);
    EXPECT_NE(tty_screen(t).find("Filter: web1"), std::string::npos) << tty_screen(t);
    tty_type(t, "7");
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait_gone(t, "web19")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "web17")) << tty_screen(t);
    EXPECT_EQ(tty_screen(t).find("web1 "), std::string::npos) << tty_screen(t);
    EXPECT_EQ(tty_screen(t).find("web18"), std::string::npos) << tty_screen(t);
    tty_type(t, "q");
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(e.restored);
}

// With the shipped hook script a pattern that Perl cannot compile, typed at
// either regex prompt, leaves the console running.
TEST(Prompts, PatternPerlCannotCompileWithTheShippedScript)
{
    const std::string dir = test_dir();
    write_defaults(dir, some_services(),
                   read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.pl"));
    tty t = guarded_start(dir, {}, 100, 40);
    ASSERT_TRUE(tty_wait(t, "web19")) << tty_screen(t);
    for (const char *pattern : {"(", "[z-a]", "a**", "(?<", "\\", "*", "(?{ die })"}) {
        SCOPED_TRACE(pattern);
        for (const char *key : {"/", "!"}) {
            tty_type(t, key);
            ASSERT_TRUE(wait_prompt(t, 40, key[0] == '/' ? "Filter:" : "NegativeFilter:"))
                << tty_screen(t);
            tty_type(t, pattern);
            tty_keys(t, {"Enter"});
            ASSERT_TRUE(wait_command_row(t, 40)) << tty_screen(t);
            // Every item is still shown: a bad pattern hides nothing.
            ASSERT_TRUE(tty_wait(t, "web19")) << tty_screen(t);
        }
    }
    tty_type(t, "x");
    ASSERT_TRUE(tty_wait(t, "web19")) << tty_screen(t);
    tty_type(t, "q");
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 0) << tty_screen(t);
    EXPECT_TRUE(e.restored);
    EXPECT_EQ(tty_stderr(t), "");
}

// Resizes while a prompt is open and while the help screen waits. A resize
// ends either as a key would, with nothing changed (the prompt's line typed
// so far is dropped), and the list is drawn at the new size. Each step
// waits for its screen: a key sent while the prompt or the help may still
// be open or already closed would land in either (Enter on the list opens
// the detail screen).
TEST(Prompts, ResizesWhileAPromptOrTheHelpIsOpen)
{
    const std::string dir = test_dir();
    write_defaults(dir, some_services());
    tty t = guarded_start(dir, {"-i", "1"}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "/");
    ASSERT_TRUE(wait_prompt(t, 24, "Filter:")) << tty_screen(t);
    tty_type(t, "web");
    ASSERT_TRUE(wait_prompt(t, 24, "Filter: web")) << tty_screen(t);
    for (int i = 0; i < 20; i++) {
        tty_resize(t, 1 + (i * 29) % 120, 1 + (i * 7) % 50);
        harness_pause(30);
    }
    tty_resize(t, 80, 24);
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " Command:")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "20 Service Objects")) << tty_screen(t);
    EXPECT_TRUE(tty_wait(t, "Filter: none")) << tty_screen(t);

    tty_type(t, "?");
    ASSERT_TRUE(tty_wait(t, "quelvan help")) << tty_screen(t);
    for (int i = 0; i < 20; i++) {
        tty_resize(t, 1 + (i * 31) % 120, 1 + (i * 11) % 50);
        harness_pause(30);
    }
    tty_resize(t, 80, 24);
    ASSERT_TRUE(tty_wait_gone(t, "quelvan help")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "20 Service Objects")) << tty_screen(t);
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " Command:")) << tty_screen(t);
    tty_type(t, "q");
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 0) << tty_screen(t);
    EXPECT_TRUE(e.restored);
}

}  // namespace
