// SPDX-License-Identifier: GPL-2.0-or-later
// The status snapshot as the user meets it: the real binary in a terminal,
// reading the daemon's file at start-up and on the timer, and ending with
// the reader's messages.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "harness.h"

namespace {

// A stanza as a daemon writes it that gives no has_been_checked line: the
// times of an object that was never checked are then inferred from the
// other keys alone.
std::string without_checked(std::string stanza)
{
    stanza.erase(stanza.find("\thas_been_checked=1\n"), 20);
    return stanza;
}


// Waits until standard error holds what at least times times.
bool wait_stderr(const tty &t, const std::string &what, int times, int timeout_ms = WAIT_MS)
{
    return tty_wait_stderr(t, what, times, timeout_ms);
}

TEST(StatusTty, RealFileAtStartUpAndOnEveryTick)
{
    const std::string dir = test_dir();
    write_defaults(dir, read_file(real_status_path()));
    tty t = tty_start(dir, {"-d", "-i", "1"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    ASSERT_TRUE(wait_stderr(t, "done with read_status()\r\n", 2)) << tty_stderr(t);
    tty_type(t, "q");
    ASSERT_NE(tty_wait_exit(t), -1);

    const std::string log = tty_stderr(t);
    const int reads = count_of(log, "read_status()...\r\n");
    ASSERT_GE(reads, 2);
    EXPECT_EQ(count_of(log, "40 host objects, 30 up, 5 down\r\n"), reads);
    EXPECT_EQ(count_of(log, "320 service objects, 205 ok, 87 warn, 28 crit\r\n"), reads);
    // Every read but the first releases six texts of each item.
    EXPECT_EQ(count_of(log, "freeing host: ["), 6 * 40 * (reads - 1));
    EXPECT_EQ(count_of(log, "freeing service: ["), 6 * 320 * (reads - 1));
    EXPECT_EQ(count_of(log, "SERVICES BY AGE: idx="), (40 + 320) * reads);
    EXPECT_EQ(count_of(log, "current_state is PENDING, inferred from has_been_checked=0\r\n"),
              (3 + 36) * reads);
    EXPECT_NE(log.find("last update is Wed Dec  9 21:30:32 (1796851832)\r\n"), std::string::npos);
}

// The messages come after the screen has been ended: curses writes to
// standard output too, so the run without tmux shows the order.
TEST(StatusTty, ReaderErrorsEndTheScreenThenExitOne)
{
    struct error_case {
        const char *name;
        std::string status;
        std::string message;
    };
    const std::vector<error_case> cases = {
        {"no info", "# nothing here\n", "fatal error: status.dat: could not find \"info\" stanza\n"},
        {"no created", "info {\n\t}\n", "fatal error: status.dat: could not find \"created\" entry\n"},
        {"broken stanza", "info {\n\tcreated=5\n\t}\nservicestatus {\n\thost_name=a\n\t}\n",
         "fatal error: status.dat: could not find \"service_description\" for service stanza "
         "preceeding line 7\n"},
    };
    const std::string leave_screen = "\x1b[?1049l";  // what endwin writes last on xterm
    for (const error_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir();
        write_defaults(dir, c.status);
        run_result r = run_quelvan(dir, {}, {{"TERM", "xterm"}});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
        size_t at = r.out.find(leave_screen);
        ASSERT_NE(at, std::string::npos) << r.out;
        ASSERT_GE(r.out.size(), c.message.size());
        EXPECT_EQ(r.out.substr(r.out.size() - c.message.size()), c.message);
        EXPECT_EQ(r.out.find("fatal error"), r.out.size() - c.message.size());
        EXPECT_LT(at, r.out.size() - c.message.size());
    }

    const std::string dir = test_dir();
    write_defaults(dir);
    run_result r = run_quelvan(dir, {}, {{"TERM", "xterm"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fatal error: fopen status.dat failed: No such file or directory\n");
    EXPECT_NE(r.out.find(leave_screen), std::string::npos);
}

// The text hooks rewrite texts in place and never make them longer; a host
// whose hook empties its output, with no time, is PENDING, and its fixed
// output goes through the hook too.
TEST(StatusTty, HooksRewriteTextsInPlace)
{
    const std::string dir = test_dir();
    const std::string hook = R"PERL(
sub host_plugin_hook { my $t = shift; return $t =~ /^empty me/ ? "" : uc $t; }
sub service_plugin_hook { return "X" . $_[0]; }
sub regex_hook { return 0; }
1;
)PERL";
    write_defaults(dir,
                   status_file(1700000000, without_checked(host_stanza("h0", 0, "empty me", 0)) +
                                               host_stanza("h1", 0, "fine", 0) +
                                               service_stanza("db1", "web", 0, "fine", 5) +
                                               without_checked(service_stanza(
                                                   "db1", "new", 0, "(Service assumed to be ok)", 0))),
                   hook);
    tty t = tty_start(dir, {"-d", "-i", "1"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    ASSERT_TRUE(wait_stderr(t, "done with read_status()\r\n", 2)) << tty_stderr(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    const std::string log = tty_stderr(t);
    for (const char *expected : {
             "  raw plugin_output is \"empty me\"\r\n"
             "  munged plugin_output is \"\"\r\n"
             "  current_state is PENDING, inferred from empty plugin output on Jan 1 1970\r\n",
             "freeing host: [0,3] PENDING\r\n",
             "freeing host: [0,7] (HOST ASSUMED TO BE UP)\r\n",
             "freeing host: [1,3] UP\r\n",
             "freeing host: [1,7] FINE\r\n",
             "  raw service_description is \"web\"\r\n"
             "  munged service_description is \"Xdb1 we\"\r\n",
             "freeing service: [0,7] Xfin\r\n",
             "freeing service: [1,3] PENDING\r\n",
             "freeing service: [1,7] X(Service assumed to be ok\r\n",
         })
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    EXPECT_NE(log.find("2 host objects, 1 up, 0 down\r\n"), std::string::npos);
    EXPECT_NE(log.find("2 service objects, 1 ok, 1 warn, 0 crit\r\n"), std::string::npos);
}

// The progress text stands on the command row while the file is read: a
// hook that waits for a go-ahead file on one host's output holds the reader
// there.
TEST(StatusTty, ProgressTextOnTheCommandRow)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000, host_stanza("web01", 0, "HOLD", 1699999000)),
                   R"PERL(
sub host_plugin_hook {
    select(undef, undef, undef, 0.02) while $_[0] eq "HOLD" && !-e "go";
    return $_[0];
}
sub service_plugin_hook { return $_[0]; }
sub regex_hook { return 0; }
1;
)PERL");
    tty t = tty_start(dir, {"-p", "2"}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "reading status.dat...")) << tty_screen(t);
    EXPECT_EQ(tty_row(t, 24 - 2 - 1), "  reading status.dat...");
    write_file(dir + "/go", "");
    EXPECT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
}

}  // namespace
