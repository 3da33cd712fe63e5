// SPDX-License-Identifier: GPL-2.0-or-later
// Hook errors while the status file is read: the screen is up, so the
// program ends it first, then prints the eval-error message and exits 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"

namespace {


const std::string LEAVE_SCREEN = "\x1b[?1049l";  // what endwin writes last on xterm

std::string read_stanzas()
{
    return status_file(1700000000,
                       host_stanza("web01", 0, "PING OK - Packet loss = 0%", 1699990000) +
                           host_stanza("db01", 1, "PING CRITICAL - Host unreachable", 1699999000) +
                           service_stanza("web01", "HTTP", 0, "HTTP OK: 200", 1699990000) +
                           service_stanza("db01", "MySQL", 2, "CRITICAL - refused", 1699999000));
}

TEST(PerlRead, HookErrorsEndTheScreenThenExitOne)
{
    struct error_case {
        const char *name;
        const char *script;
        const char *message;
    };
    const std::vector<error_case> cases = {
        {"die on a display name",
         "sub host_plugin_hook { $_[0] }\n"
         "sub service_plugin_hook { die \"cannot rewrite $_[0]\\n\" if $_[0] eq 'db01 MySQL';"
         " $_[0] }\n",
         "fatal error: perl eval error: cannot rewrite db01 MySQL\n\r\n"},
        {"error left on a host output",
         "sub host_plugin_hook { eval { die \"unreachable\\n\" } if $_[0] =~ /CRITICAL/; $_[0] }\n"
         "sub service_plugin_hook { $_[0] }\n",
         "fatal error: perl eval error: unreachable\n\r\n"},
        {"no service hook", "sub host_plugin_hook { $_[0] }\n",
         "fatal error: perl eval error: Undefined subroutine &main::service_plugin_hook "
         "called.\n\r\n"},
    };
    for (const error_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir();
        write_defaults(dir, read_stanzas(), c.script);
        run_result r = run_quelvan(dir, {}, {{"TERM", "xterm"}});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
        const std::string message = c.message;
        size_t at = r.out.find(LEAVE_SCREEN);
        ASSERT_NE(at, std::string::npos) << r.out;
        ASSERT_GE(r.out.size(), message.size());
        EXPECT_EQ(r.out.substr(r.out.size() - message.size()), message);
        EXPECT_LT(at, r.out.size() - message.size());
    }
}

// In a real terminal the user is back on the normal screen.
TEST(PerlRead, TerminalIsRestoredAfterAHookError)
{
    const std::string dir = test_dir();
    write_defaults(dir, read_stanzas(),
                   "sub host_plugin_hook { $_[0] }\n"
                   "sub service_plugin_hook { die \"stopped\\n\" if -e 'stop'; $_[0] }\n");
    tty t = tty_start(dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    // The read of the next timer tick meets the die.
    write_file(dir + "/stop", "");
    // When the pane dies tmux keeps either the last output or the exit
    // status, not always both; the message and the status are checked
    // without tmux above. What the terminal shows is the normal screen.
    ASSERT_NE(tty_wait_exit(t), -1) << tty_screen(t);
    EXPECT_EQ(tty_query(t, "#{alternate_on}"), "0");
}

// A script that exits ends the program with its own status, the screen
// ended first, in a real terminal too.
TEST(PerlRead, ExitInAHookEndsWithItsStatus)
{
    const std::string script = "sub host_plugin_hook { $_[0] }\n"
                               "sub service_plugin_hook { exit 7 if -e 'stop'; $_[0] }\n";
    const std::string dir = test_dir();
    write_defaults(dir, read_stanzas(), script);
    write_file(dir + "/stop", "");
    run_result r = run_quelvan(dir, {}, {{"TERM", "xterm"}});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(LEAVE_SCREEN), std::string::npos) << r.out;

    const std::string tty_dir = test_dir();
    write_defaults(tty_dir, read_stanzas(), script);
    tty t = tty_start(tty_dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "Command:", 20000)) << tty_screen(t);
    write_file(tty_dir + "/stop", "");
    int status = tty_wait_exit(t, 20000);
    ASSERT_NE(status, -1) << tty_screen(t);
    EXPECT_EQ(status, 7);
    EXPECT_EQ(tty_query(t, "#{alternate_on}"), "0");
}

}  // namespace
