// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh timer and the wait for keys, in a real terminal.
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness.h"
#include "quelvan.h"
#include "keys_tty.h"
#include "timer/timer.h"

namespace {

const long CREATED = 1700000000;

std::string snapshot(const std::string &output, long created = CREATED)
{
    return status_file(created, service_stanza("web1", "HTTP", 0, output, created - 60));
}

// Two new status files, each shown in its turn without a key: only the
// timer can bring them.
void timer_brings_two_files(const tty &t, const std::string &dir)
{
    write_file(status_path(dir), snapshot("second answer", CREATED + 120));
    EXPECT_TRUE(tty_wait(t, "second answer")) << tty_screen(t);
    write_file(status_path(dir), snapshot("third answer", CREATED + 240));
    EXPECT_TRUE(tty_wait(t, "third answer")) << tty_screen(t);
}

TEST(RefreshTimer, AChangedStatusFileShowsAfterTheInterval)
{
    const std::string dir = test_dir();
    write_defaults(dir, snapshot("first answer"));
    tty t = tty_start(dir, {"-i", "2"});
    ASSERT_TRUE(tty_wait(t, "first answer")) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(timer_brings_two_files(t, dir));
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// While a prompt or the help screen waits, the timer is off: no refresh
// writes over it. Once it is left, the next refresh comes an interval later.
TEST(RefreshTimer, NoRefreshWhileAPromptOrTheHelpScreenIsOpen)
{
    struct opened {
        const char *key;
        const char *shows;     // row 22 or row 0 while open
        int row;
        std::vector<std::string> leave;
    };
    const opened cases[] = {
        {"/", " Filter: ab", 22, {"BSpace", "BSpace", "Enter"}},
        {"a", " AgeFilter: ab", 22, {"BSpace", "BSpace", "Enter"}},
        {"?", "quelvan help", 0, {"Enter"}},
    };
    for (const opened &c : cases) {
        SCOPED_TRACE(c.key);
        const std::string dir = test_dir();
        write_defaults(dir, snapshot("first answer"));
        tty t = tty_start(dir, {"-i", "2"});
        ASSERT_TRUE(tty_wait(t, "first answer")) << tty_screen(t);
        tty_type(t, c.key);
        if (c.row == 22)
            tty_type(t, "ab");
        ASSERT_TRUE(wait_row(t, c.row, c.shows)) << tty_screen(t);
        pane_log log(t);
        log.mark();
        write_file(status_path(dir), snapshot("second answer", CREATED + 120));
        // Two and a half intervals pass without a refresh.
        EXPECT_FALSE(log.wait("reading status.dat", 5000)) << log.since();
        EXPECT_EQ(tty_row(t, c.row), c.shows);
        EXPECT_EQ(tty_screen(t).find("second answer"), std::string::npos);
        tty_keys(t, c.leave);
        EXPECT_TRUE(tty_wait(t, "second answer")) << tty_screen(t);
    }
}

// The refresh key stops the timer while it reads and arms it again: the
// console goes on refreshing by itself afterwards, without another key.
TEST(RefreshTimer, TheRefreshKeyArmsTheTimerAgain)
{
    for (const char *key : {"r", "C-l"}) {
        SCOPED_TRACE(key);
        const std::string dir = test_dir();
        write_defaults(dir, snapshot("first answer"));
        tty t = tty_start(dir, {"-d", "-i", "1"});
        ASSERT_TRUE(tty_wait(t, "first answer")) << tty_screen(t);
        const int before = count_of(tty_stderr(t), "read_status()...");
        tty_keys(t, {key});
        ASSERT_TRUE(tty_wait_stderr(t, "read_status()...", before + 1)) << tty_stderr(t);
        // From here on no key: only the timer can bring the new file.
        ASSERT_NO_FATAL_FAILURE(timer_brings_two_files(t, dir));
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0);
    }
}

TEST(RefreshTimer, NoTimerWithIntervalZeroButTheRefreshKeyReads)
{
    const std::string dir = test_dir();
    write_defaults(dir, snapshot("first answer"));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "first answer")) << tty_screen(t);
    write_file(status_path(dir), snapshot("second answer", CREATED + 120));
    EXPECT_FALSE(tty_wait(t, "second answer", 4000)) << tty_screen(t);
    for (const char *key : {"r", "C-l"}) {
        SCOPED_TRACE(key);
        pane_log log(t);
        log.mark();
        tty_keys(t, {key});
        EXPECT_TRUE(log.wait("reading status.dat...")) << log.since();
        EXPECT_TRUE(tty_wait(t, "second answer")) << tty_screen(t);
        write_file(status_path(dir), snapshot("third answer", CREATED + 240));
        tty_keys(t, {key});
        EXPECT_TRUE(tty_wait(t, "third answer")) << tty_screen(t);
        write_file(status_path(dir), snapshot("second answer", CREATED + 360));
    }
}

// A refresh draws once; it is not a key, after which the loop would draw
// a second time.
TEST(RefreshTimer, EachRefreshDrawsOnce)
{
    const std::string dir = test_dir();
    write_defaults(dir, snapshot("first answer"));
    tty t = tty_start(dir, {"-d", "-i", "1"});
    ASSERT_TRUE(tty_wait(t, "first answer")) << tty_screen(t);
    ASSERT_TRUE(tty_wait_stderr(t, "read_status()...", 4)) << tty_stderr(t);
    tty_type(t, "q");
    ASSERT_EQ(tty_wait_exit(t), 0);
    const std::string log = tty_stderr(t);
    EXPECT_GE(count_of(log, "read_status()..."), 4);
    EXPECT_EQ(count_of(log, "draw_screen()..."), count_of(log, "read_status()..."));
}

TEST(RefreshTimer, TheRefreshKeepsThePage)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, services("svc", 30, 0, CREATED)));
    tty t = tty_start(dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "page 1 of 3")) << tty_screen(t);
    tty_type(t, "G");
    ASSERT_TRUE(tty_wait(t, "page 3 of 3")) << tty_screen(t);
    write_file(status_path(dir), status_file(CREATED + 60, services("svc", 30, 0, CREATED, "new")));
    EXPECT_TRUE(tty_wait(t, "new svc30")) << tty_screen(t);
    EXPECT_TRUE(tty_wait(t, "page 3 of 3")) << tty_screen(t);
}

// In-process: a tick that falls outside the key wait is held back by the
// signal mask (nothing is interrupted), and stopping the timer drops it.
TEST(TimerMask, ATickOutsideTheWaitIsHeldAndDroppedByStop)
{
    sigset_t before;
    sigprocmask(SIG_SETMASK, nullptr, &before);
    timer_install();
    polling_interval = 1;
    timer_start();
    harness_pause(1500);  // busy elsewhere
    EXPECT_EQ(refresh_due, 0);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_TRUE(sigismember(&pending, SIGALRM));

    timer_stop();
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGALRM));
    EXPECT_EQ(refresh_due, 0);
    EXPECT_EQ(alarm(0), 0u);  // and no countdown is left

    polling_interval = 0;
    timer_start();  // an interval of 0 arms nothing
    EXPECT_EQ(alarm(0), 0u);
    polling_interval = -5;
    timer_start();
    EXPECT_EQ(alarm(0), 0u);
    polling_interval = 90;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    signal(SIGALRM, SIG_DFL);
}

// A terminal that goes away must not leave the console spinning.
TEST(KeyWait, TheEndOfTheInputEndsTheConsole)
{
    const std::string dir = test_dir();
    write_defaults(dir, snapshot("first answer"));
    run_result r = run_quelvan(dir, {}, {{"TERM", "screen"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(KeyWait, AResizedTerminalIsRedrawnToItsNewSize)
{
    const std::string dir = test_dir();
    write_defaults(dir, snapshot("first answer"));
    tty t = tty_start(dir, {});
    ASSERT_TRUE(wait_row(t, 22, " Command:")) << tty_screen(t);
    tty_resize(t, 100, 30);
    EXPECT_TRUE(wait_row(t, 28, " Command:")) << tty_screen(t);
    tty_resize(t, 80, 20);
    EXPECT_TRUE(wait_row(t, 18, " Command:")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// Keys typed while a message pauses are all carried out, in order.
TEST(KeyWait, KeysTypedAheadAreNotLost)
{
    const std::string dir = test_dir();
    write_defaults(dir, snapshot("first answer"));
    tty t = tty_start(dir, {"-b"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    log.mark();
    tty_type(t, "sssz");
    ASSERT_TRUE(log.wait("\a")) << log.since();
    const std::string sent = log.since();
    EXPECT_EQ(count_of(sent, "sort by age"), 2) << sent;
    EXPECT_EQ(count_of(sent, "sort by name"), 1) << sent;
    EXPECT_LT(sent.find("sort by name"), sent.rfind("sort by age"));
}

}  // namespace
