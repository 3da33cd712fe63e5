// SPDX-License-Identifier: GPL-2.0-or-later
// Several status-file sites in one view, through the binary under tmux: the
// names with their prefixes, the counts, the hooks and filters, a site that
// fails and comes back, and a command that goes to its own site's pipe.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "keys_tty.h"

namespace {

constexpr long CREATED = 1765400000;  // 2025-12-10 20:53:20 UTC

std::string east_file(long created, const std::string &http = "HTTP OK")
{
    return status_file(created, host_stanza("web1", 0, "PING OK", created - 600) +
                                    host_stanza("db1", 1, "PING CRITICAL", created - 300) +
                                    service_stanza("web1", "HTTP", 0, http, created - 120) +
                                    service_stanza("db1", "DB", 2, "DB DOWN", created - 60));
}

std::string west_file(long created)
{
    return status_file(created, host_stanza("web1", 0, "PING OK", created - 900) +
                                    service_stanza("web1", "HTTP", 1, "HTTP SLOW", created - 30));
}

bool shows(const tty &t, const std::string &text)
{
    return tty_screen(t).find(text) != std::string::npos;
}

// Two sites, east and west, each a status file of the test's directory.
std::string two_sites(const std::string &dir, const std::string &extra = "")
{
    write_file(dir + "/east.dat", east_file(CREATED));
    write_file(dir + "/west.dat", west_file(CREATED + 5));
    return "site east = status:east.dat\nsite west = status:west.dat\n" + extra;
}

TEST(Sites, TwoStatusFilesInOneView)
{
    const std::string dir = test_dir();
    write_defaults(dir);
    write_file(system_rc_path_in(dir), two_sites(dir));
    tty t = tty_start(dir, {"-i", "0"}, 100, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    // Site order, each site in its own order; the newest site's time.
    EXPECT_EQ(tty_row(t, 1), "   Quelvan v0.32                            3 Service Objects"
                             "                  Wed Dec 10 20:53:25");
    EXPECT_EQ(tty_row(t, 7), " OKAY      east:web1 HTTP                                       "
                             "HTTP OK  Wed Dec 10 20:51     2m 0s");
    EXPECT_EQ(tty_row(t, 8), " CRITICAL  east:db1 DB                                          "
                             "DB DOWN  Wed Dec 10 20:52     1m 0s");
    EXPECT_EQ(tty_row(t, 9), " WARNING   west:web1 HTTP                                     "
                             "HTTP SLOW  Wed Dec 10 20:52    0m 30s");
    // Hosts: both sites' counts.
    tty_type(t, "u");
    ASSERT_TRUE(tty_wait(t, "3 Host Objects")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "east:db1 ")) << tty_screen(t);
    tty_type(t, "d");
    ASSERT_TRUE(tty_wait(t, "1 Down Host ")) << tty_screen(t);
    // The regex filters see the prefix.
    tty_type(t, "w");
    tty_type(t, "f");
    ASSERT_TRUE(tty_wait(t, "Filter: ")) << tty_screen(t);
    tty_type(t, "^west:");
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "1 matches the filter")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "west:web1 HTTP")) << tty_screen(t);
    EXPECT_FALSE(shows(t, "east:")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// The hooks get the texts as the sites give them; the prefix comes after.
TEST(Sites, HooksSeeTheTextsWithoutThePrefix)
{
    const std::string dir = test_dir();
    const std::string hook = R"PERL(
sub host_plugin_hook { return $_[0]; }
sub service_plugin_hook { my $t = shift; $t =~ s/^web1 /WEB1 / if $t =~ /^web1 HTTP$/; return $t; }
sub regex_hook { return 0; }
1;
)PERL";
    write_defaults(dir, "", hook);
    write_file(system_rc_path_in(dir), two_sites(dir));
    tty t = tty_start(dir, {"-i", "0"}, 100, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "east:WEB1 HTTP")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "west:WEB1 HTTP")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// A site whose read fails keeps its items, marked, with a line naming it;
// the other site goes on; the bell rings once as it turns bad; a good read
// puts everything back.
TEST(Sites, AFailingSiteKeepsItsItemsMarkedStale)
{
    struct failure {
        const char *name;
        void (*spoil)(const std::string &path);
        const char *reason;
    } failures[] = {
        {"missing", [](const std::string &p) { unlink(p.c_str()); },
         "no such file or directory"},
        {"no_created_entry", [](const std::string &p) { write_file(p, "info {\n\tversion=4\n"); },
         "could not find \"created\" entry"},
        {"directory",
         [](const std::string &p) {
             unlink(p.c_str());
             mkdir(p.c_str(), 0700);
         },
         "not a regular file"},
    };
    for (const failure &f : failures) {
        SCOPED_TRACE(f.name);
        const std::string dir = test_dir();
        write_defaults(dir);
        write_file(system_rc_path_in(dir), two_sites(dir, "default alert = bell\n"));
        tty t = tty_start(dir, {"-i", "0"}, 100, 24);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        pane_log log(t);
        ASSERT_TRUE(log.ok());

        f.spoil(dir + "/west.dat");
        write_file(dir + "/east.dat", east_file(CREATED + 60, "HTTP OK again"));
        log.mark();
        tty_type(t, "r");
        ASSERT_TRUE(tty_wait(t, "no answer since")) << tty_screen(t);
        ASSERT_TRUE(tty_wait(t, "HTTP OK again")) << tty_screen(t);
        const std::string line = tty_row(t, 4);
        EXPECT_EQ(line.substr(0, 29), "  site west: no answer since ") << tty_screen(t);
        EXPECT_EQ(line.substr(line.size() - strlen(f.reason) - 2),
                  std::string("(") + f.reason + ")")
            << line;
        // The list moves down by that line; the stale item is marked.
        EXPECT_EQ(tty_row(t, 6), " Status    Description                                    "
                                 "Plugin Output    Last Change     Duration");
        EXPECT_EQ(tty_row(t, 10).substr(0, 21), " WARNING  ?west:web1 ") << tty_screen(t);
        EXPECT_EQ(tty_row(t, 8).substr(0, 21), " OKAY      east:web1 ") << tty_screen(t);
        EXPECT_TRUE(shows(t, "3 Service Objects")) << tty_screen(t);
        ASSERT_TRUE(log.wait("Command:")) << printable(log.since());
        EXPECT_EQ(bells(log.since()), 1) << printable(log.since());

        // Still failing: no second bell.
        log.mark();
        tty_type(t, "r");
        ASSERT_TRUE(log.wait("reading status.dat")) << printable(log.since());
        ASSERT_TRUE(log.wait("Command:")) << printable(log.since());
        tty_type(t, "z");  // beeps on its own, after any alert
        ASSERT_TRUE(log.wait("\a")) << printable(log.since());
        harness_pause(200);
        EXPECT_EQ(bells(log.since()), 1) << printable(log.since());

        // Back.
        if (std::string(f.name) == "directory")
            rmdir((dir + "/west.dat").c_str());
        write_file(dir + "/west.dat", west_file(CREATED + 65));
        tty_type(t, "r");
        ASSERT_TRUE(tty_wait_in_row(t, 9, " WARNING   west:web1 ")) << tty_screen(t);
        EXPECT_FALSE(shows(t, "no answer since")) << tty_screen(t);
        EXPECT_FALSE(shows(t, "?west")) << tty_screen(t);
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0);
    }
}

// A site that has never been read shows no items and its line.
TEST(Sites, ASiteNeverReadIsNamedAndTheOthersShow)
{
    const std::string dir = test_dir();
    write_defaults(dir);
    write_file(dir + "/east.dat", east_file(CREATED));
    write_file(system_rc_path_in(dir),
               "site east = status:east.dat\nsite gone = status:nothing.dat\n");
    tty t = tty_start(dir, {"-i", "0"}, 100, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "site gone: no answer since ")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "(no such file or directory)")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "2 Service Objects")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// A site's command goes to its own pipe, with the names as its file gives
// them; a site without a pipe refuses.
TEST(Sites, ACommandGoesToItsSitesPipe)
{
    const std::string dir = test_dir();
    write_defaults(dir);
    fifo_reader east(dir + "/east.cmd"), other(dir + "/other.cmd");
    ASSERT_GE(east.fd, 0) << strerror(errno);
    ASSERT_GE(other.fd, 0) << strerror(errno);
    write_file(dir + "/east.dat", east_file(CREATED));
    write_file(dir + "/west.dat", west_file(CREATED + 5));
    write_file(system_rc_path_in(dir),
               "default command_file = " + other.path +
                   "\nsite east = status:east.dat east.cmd\nsite west = status:west.dat\n");
    tty t = tty_start(dir, {"-i", "0"}, 100, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_keys(t, {"j", "j", "Enter"});
    ASSERT_TRUE(tty_wait(t, "Service         east:db1 DB")) << tty_screen(t);
    const long long before = time(nullptr);
    tty_type(t, "c");
    ASSERT_TRUE(tty_wait(t, "check scheduled")) << tty_screen(t);
    const long long after = time(nullptr);
    const std::string got = east.read_all();
    long long stamp = 0;
    ASSERT_EQ(std::sscanf(got.c_str(), "[%lld]", &stamp), 1) << got;
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    // Appended: "[" + std::string makes gcc 12 at -O3 warn, falsely, of
    // overlapping copies (restrict).
    const std::string at = std::to_string(stamp);
    EXPECT_EQ(got, std::string("[").append(at).append("] SCHEDULE_FORCED_SVC_CHECK;db1;DB;") +
                       at + "\n");
    EXPECT_EQ(other.read_all(), "");

    // West has no pipe of its own.
    tty_type(t, "q");
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_keys(t, {"j", "Enter"});
    ASSERT_TRUE(tty_wait(t, "Service         west:web1 HTTP")) << tty_screen(t);
    tty_type(t, "c");
    EXPECT_TRUE(tty_wait(t, "no command file for site west")) << tty_screen(t);
    EXPECT_EQ(other.read_all(), "");
    tty_type(t, "q");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

}  // namespace
