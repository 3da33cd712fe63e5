// SPDX-License-Identifier: GPL-2.0-or-later
// The system file, the user's file and the command line, applied in that
// order: each may override what came before it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "harness.h"
#include "quelvan.h"

namespace {

// Runs the configuration code as start-up does: in dir, with HOME as given
// (or unset), from start values. Restores the working directory and HOME.
class start_up {
public:
    start_up(const std::string &dir, std::optional<std::string> home)
    {
        char cwd[PATH_MAX];
        old_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
        if (const char *h = getenv("HOME"))
            old_home_ = h;
        if (chdir(dir.c_str()) != 0)
            ADD_FAILURE() << "chdir " << dir;
        if (home)
            setenv("HOME", home->c_str(), 1);
        else
            unsetenv("HOME");
        settings_reset();
    }
    ~start_up()
    {
        if (chdir(old_cwd_.c_str()) != 0)
            ADD_FAILURE() << "chdir back";
        if (old_home_)
            setenv("HOME", old_home_->c_str(), 1);
        else
            unsetenv("HOME");
    }
    start_up(const start_up &) = delete;
    start_up &operator=(const start_up &) = delete;

    // read_dot_files() and then the options; returns what was printed.
    std::string run(std::vector<std::string> args = {})
    {
        testing::internal::CaptureStdout();
        read_dot_files();
        apply_options(args);
        return testing::internal::GetCapturedStdout();
    }

private:
    std::string old_cwd_;
    std::optional<std::string> old_home_;
};

void write_rcs(const std::string &dir, const std::string &system, const std::string &user)
{
    write_file(system_rc_path_in(dir), system);
    write_file(dir + "/.quelvanrc", user);
}

TEST(ConfigOrder, RegexFiltersFromBothFilesThenTheCommandLine)
{
    const std::string dir = test_dir();
    write_rcs(dir, "default text =~ /web/\n", "default text !~ /test/\n");
    {
        start_up s(dir, dir);
        EXPECT_EQ(s.run(), "");
        EXPECT_EQ(filter_set, FILTER_REGEX | FILTER_NOT_REGEX);
        EXPECT_STREQ(name_filter, "web");
        EXPECT_STREQ(not_name_filter, "test");
    }
    {
        // The first regex option brings the exclusion back.
        start_up s(dir, dir);
        s.run({"-g", "/db/"});
        EXPECT_EQ(filter_set, FILTER_REGEX);
        EXPECT_STREQ(name_filter, "db");
    }
    {
        start_up s(dir, dir);
        s.run({"-v", "/qa/"});
        EXPECT_EQ(filter_set, FILTER_NOT_REGEX);
        EXPECT_STREQ(not_name_filter, "qa");
    }
    // The same kind of filter in both files: the user's text wins.
    write_rcs(dir, "default text =~ /a/\n", "default text =~ /b/\n");
    {
        start_up s(dir, dir);
        s.run();
        EXPECT_EQ(filter_set, FILTER_REGEX);
        EXPECT_STREQ(name_filter, "b");
    }
}

TEST(ConfigOrder, TheUsersFileChoosesTheCommandPipe)
{
    struct pipe_case {
        std::string system, user;
        bool home;  // without HOME only the system file counts
        std::string command_file;
        int ack_sticky, ack_notify;
    };
    const pipe_case cases[] = {
        {"default command_file = /site/nagios.cmd\ndefault ack = normal\n",
         "default command_file = none\ndefault ack_notify = no\n", true, "", 0, 0},
        {"default command_file = /site/nagios.cmd\n", "default command_file = /home/ann/test.cmd\n",
         true, "/home/ann/test.cmd", 1, 1},
        {"default command_file = /site/nagios.cmd\n", "default command_file = none\n", false,
         "/site/nagios.cmd", 1, 1},
    };
    const std::string dir = test_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.system + "|" + c.user);
        write_rcs(dir, c.system, c.user);
        start_up s(dir, c.home ? std::optional<std::string>(dir) : std::nullopt);
        EXPECT_EQ(s.run(), "");
        EXPECT_EQ(command_file, c.command_file);
        EXPECT_EQ(ack_sticky, c.ack_sticky);
        EXPECT_EQ(ack_notify, c.ack_notify);
    }
}

TEST(ConfigOrder, LaterSettingsOverrideEarlierOnes)
{
    const std::string dir = test_dir();
    write_rcs(dir,
              "default level = DOWN\n"
              "default sort_order = by_age\n"
              "default site_name = Headquarters\n"
              "default age = 1d\n",
              "default level = WARNING\n"
              "default site_name = Branch\n"
              "default okay_age = 2h\n");
    {
        start_up s(dir, dir);
        EXPECT_EQ(s.run(), "");
        EXPECT_EQ(object_mode, 1);
        EXPECT_EQ(host_level, 2);  // from the system file, not overridden
        EXPECT_EQ(service_level, 1);
        EXPECT_EQ(sort_mode, 1);
        EXPECT_STREQ(site_name, "Branch");
        EXPECT_EQ(filter_set, FILTER_OKAY_AGE);
        EXPECT_STREQ(age_okay_filter, "2hr");
        EXPECT_EQ(age_okay_filter_secs, 7200);
        EXPECT_EQ(cur_page, 1);
    }
    {
        start_up s(dir, dir);
        s.run({"-l", "c", "-s", "n", "-a", "5m"});
        EXPECT_EQ(object_mode, 1);
        EXPECT_EQ(service_level, 2);
        EXPECT_EQ(sort_mode, 0);
        EXPECT_EQ(filter_set, FILTER_AGE);
        EXPECT_STREQ(age_filter, "5m");
        EXPECT_EQ(age_filter_secs, 300);
        EXPECT_STREQ(site_name, "Branch");
    }
    {
        start_up s(dir, dir);
        s.run({"-m", "h"});
        EXPECT_EQ(object_mode, 0);
        EXPECT_EQ(host_level, 0);
    }
}

TEST(ConfigOrder, FunctionKeySlotsAreEmptiedThenFilled)
{
    const std::string dir = test_dir();
    write_rcs(dir,
              "f1 text =~ /a/\n"
              "f3 text =~ /web/\n",
              "f1 text =~ /b/\n"
              "f3 text !~ /test/\n"
              "f12 text !~ /db/\n");
    start_up s(dir, dir);
    for (int i = 0; i < NUM_FKEYS; i++) {
        text_copy(fkey_name_filters[i], "left over");
        text_copy(fkey_not_name_filters[i], "left over");
    }
    EXPECT_EQ(s.run(), "");
    for (int i = 0; i < NUM_FKEYS; i++) {
        std::string pos = i == 1 ? "b" : i == 3 ? "web" : "";
        std::string neg = i == 3 ? "test" : i == 12 ? "db" : "";
        EXPECT_EQ(fkey_name_filters[i], pos) << "slot " << i;
        EXPECT_EQ(fkey_not_name_filters[i], neg) << "slot " << i;
    }
    EXPECT_EQ(filter_set, 0);  // binding a key sets no filter
}

TEST(ConfigOrder, ErrorsNameTheFileAsOpenedSystemFileFirst)
{
    const std::string dir = test_dir();
    write_rcs(dir, "default level = DOWN\ndefault level = OK\n",
              "# mine\ndefault sort_order = by_age please\n   \ndefault level = UP\n");
    start_up s(dir, dir);
    EXPECT_EQ(s.run(), std::string(system_rc_path) + ": syntax error on line 2\n" + dir +
                           "/.quelvanrc: syntax error on line 3\n");
    EXPECT_EQ(object_mode, 0);
    EXPECT_EQ(host_level, 0);
    EXPECT_EQ(sort_mode, 1);
}

TEST(ConfigOrder, WithoutHomeOnlyTheSystemFileIsRead)
{
    const std::string dir = test_dir();
    write_rcs(dir, "default level = DOWN\n", "default level = CRITICAL\n");
    start_up s(dir, std::nullopt);
    EXPECT_EQ(s.run(), "");
    EXPECT_EQ(object_mode, 0);
    EXPECT_EQ(host_level, 2);
    EXPECT_EQ(service_level, 0);
}

TEST(ConfigOrder, NoFilesLeaveTheStartValues)
{
    const std::string dir = test_dir();
    start_up s(dir, dir);
    EXPECT_EQ(s.run(), "");
    EXPECT_EQ(object_mode, 1);
    EXPECT_EQ(service_level, 0);
    EXPECT_EQ(sort_mode, 0);
    EXPECT_EQ(filter_set, 0);
    EXPECT_STREQ(site_name, "");
    EXPECT_EQ(pad, 1);
    EXPECT_EQ(header_pad, 2);
    EXPECT_EQ(color, 1);
    EXPECT_EQ(polling_interval, 90);
}

TEST(ConfigOrder, UserPathIsCutTo1023Characters)
{
    // A HOME so long that "HOME/.quelvanrc" is cut after "/.quel": the cut
    // path is the one opened and named in messages, and nothing overflows.
    const std::string dir = test_dir();
    std::string home = dir;
    while (home.size() < 1017) {
        size_t part = std::min<size_t>(200, 1017 - home.size() - 1);
        home.append("/").append(part, 'h');
    }
    ASSERT_EQ(home.size(), 1017u);
    std::filesystem::create_directories(home);
    write_file(home + "/.quel", "default level = DOWN\nnonsense\n");
    start_up s(dir, home);
    EXPECT_EQ(s.run(), home + "/.quel: syntax error on line 2\n");
    EXPECT_EQ(object_mode, 0);
    EXPECT_EQ(host_level, 2);
}

// The binary: its configuration messages come first, before anything the
// command line prints.
TEST(ConfigOrder, BinaryPrintsFileErrorsBeforeTheCommandLineOutput)
{
    const std::string dir = test_dir();
    write_rcs(dir, "default level = OK\n", "\ndefault text =~ web\n");
    const std::string errors = std::string(system_rc_path) + ": syntax error on line 1\n" +
                               dir + "/.quelvanrc: syntax error on line 2\n";
    run_result help = run_quelvan(dir, {"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(errors + "usage: quelvan [options]\n", 0), 0u) << help.out;

    run_result version = run_quelvan(dir, {"-V"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, errors + "Quelvan-" QUELVAN_VERSION "\n");

    run_result bad = run_quelvan(dir, {"-a", "soon"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out.rfind(errors + "syntax error: can not parse age \"soon\"\n", 0), 0u)
        << bad.out;
}

// Start-up goes on whatever the files hold.
TEST(ConfigOrder, BadFilesNeverStopStartUp)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000, host_stanza("web-01", 0, "PING OK", 1699990000)));
    write_rcs(dir,
              std::string("   \nf99999999999 text =~ /x/\ndefault text =~ /") +
                  std::string(5000, 'x') + "/\r\n" + std::string(1, '\0') + "\xff\xfe\n",
              "default level = DOWN\r\ndefault site_name = Main\r\ndefault age = 5m\r\n");
    tty t = tty_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

}  // namespace
