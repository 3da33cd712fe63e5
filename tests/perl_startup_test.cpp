// SPDX-License-Identifier: GPL-2.0-or-later
// The hook script at start-up, seen through the real binary: every failure
// ends the program before the screen is set up, with status 1.
#include <gtest/gtest.h>

#include <cstring>

#include "harness.h"

namespace {

struct startup_case {
    const char *name;
    const char *script;
    const char *out;       // standard output, exactly
    const char *err_part;  // found in standard error ("" : standard error empty)
};

const startup_case startup_cases[] = {
    {"compile error", "sub host_plugin_hook { $_[0]\n",
     "fatal error: perl compile of etc/quelvan.pl failed\r\n", "syntax error"},
    {"unknown module", "use No::Such::Module;\nsub host_plugin_hook { $_[0] }\n",
     "fatal error: perl compile of etc/quelvan.pl failed\r\n", "Can't locate No/Such/Module.pm"},
    {"main program dies", "sub host_plugin_hook { $_[0] }\ndie \"not configured\\n\";\n",
     "fatal error: perl compile of etc/quelvan.pl failed\r\n", "not configured"},
    {"main program exits 3", "sub host_plugin_hook { $_[0] }\nexit 3;\n",
     "fatal error: perl compile of etc/quelvan.pl failed\r\n", ""},
    {"no host hook", "sub service_plugin_hook { $_[0] }\n1;\n",
     "fatal error: perl eval error: Undefined subroutine &main::host_plugin_hook called.\n\r\n",
     ""},
    {"host hook dies", "sub host_plugin_hook { die \"refused: $_[0]\\n\" }\n",
     "fatal error: perl eval error: refused: testing perl hook eval\n\r\n", ""},
    {"host hook dies with line", "sub host_plugin_hook {\n  die;\n}\n",
     "fatal error: perl eval error: Died at etc/quelvan.pl line 2.\n\r\n", ""},
    {"error left by an eval", "sub host_plugin_hook { eval { 1 / 0 }; $_[0] }\n",
     "fatal error: perl eval error: Illegal division by zero at etc/quelvan.pl line 1.\n\r\n",
     ""},
    {"error left by the main program",
     "eval { require No::Such::Module };\nsub host_plugin_hook { $_[0] }\n",
     "fatal error: perl eval error: Can't locate No/Such/Module.pm in @INC", ""},
};

TEST(PerlStartUp, FailuresEndBeforeTheScreen)
{
    for (const auto &c : startup_cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir();
        write_defaults(dir, status_file(1700000000), c.script);
        run_result r = run_quelvan(dir, {});
        EXPECT_EQ(r.status, 1);
        // The main program's error ends with its own line; the rest is the
        // exact message.
        EXPECT_EQ(r.out.substr(0, strlen(c.out)), c.out);
        EXPECT_EQ(r.out.substr(r.out.size() - 2), "\r\n");
        if (*c.err_part)
            EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
        // Nothing of curses reached the terminal.
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    }
}

TEST(PerlStartUp, MissingScript)
{
    const std::string dir = test_dir();
    write_file(help_path(dir), "help\n");
    write_file(status_path(dir), status_file(1700000000));
    run_result r = run_quelvan(dir, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "fatal error: fopen etc/quelvan.pl failed: No such file or directory\n");
}

// The script is opened once, checked on that open file, and the interpreter
// reads that same file: no second open of the path (strace sees every open
// of the process), so a file swapped in between cannot be read unchecked.
// Its messages still name the path.
TEST(PerlStartUp, TheScriptIsOpenedOnce)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000),
                   "open my $f, '>', 'ran.txt' or die; print $f __FILE__, ' ', $0; close $f;\n"
                   "sub host_plugin_hook { die \"refused\" }\n");
    int status = -1;
    const std::string out = harness_sh(
        // Without LeakSanitizer, which cannot work under ptrace.
        "cd " + harness_quote(dir) + " && env TERM=no-such-terminal " + harness_no_leaks_env() +
        " strace -f -qq -o trace.txt"
        " -e trace=open,openat,openat2 " + harness_quote(QUELVAN_BINARY) + " 2>&1",
        &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "fatal error: perl eval error: refused at etc/quelvan.pl line 2.\n\r\n");
    EXPECT_EQ(read_file(dir + "/ran.txt"), "etc/quelvan.pl etc/quelvan.pl");
    const std::string trace = read_file(dir + "/trace.txt");
    EXPECT_EQ(count_of(trace, "quelvan.pl\""), 1) << trace;
    EXPECT_EQ(count_of(trace, "\"/dev/fd/"), 0) << trace;
}

// A script with compiled modules starts; the test call gets its text before
// the screen.
TEST(PerlStartUp, ScriptWithCompiledModulesRuns)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000), R"PERL(
use strict;
use warnings;
use POSIX qw(floor);
use Socket qw(inet_aton);
use Time::HiRes qw(time);
sub append { open my $f, '>>', 'calls.txt' or die; print $f "@_\n"; close $f }
sub host_plugin_hook { append("host", $_[0]); return $_[0] }
sub service_plugin_hook { return $_[0] }
sub regex_hook { return 0 }
append("main", floor(2.5));
1;
)PERL");
    tty t = tty_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    // The test call was made before the first screen.
    EXPECT_EQ(read_file(dir + "/calls.txt").rfind("main 2\nhost testing perl hook eval\n", 0),
              0u)
        << read_file(dir + "/calls.txt");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

}  // namespace
