// SPDX-License-Identifier: GPL-2.0-or-later
// Site statements and the site timeout: which lines name a site, what each
// gives, and which are syntax errors with their line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame.h"
#include "harness.h"
#include "quelvan.h"

namespace {

// A site as a line gives it: "kind|path|host|port|command file".
std::string describe(const site &s)
{
    const char *kinds[] = {"status", "unix", "tcp"};
    return std::string(s.name) + "=" + kinds[s.kind] + "|" + s.path + "|" + s.host + "|" +
           std::to_string(s.port) + "|" + s.command_file;
}

struct site_case {
    const char *name;
    std::string content;
    std::vector<std::string> sites;  // what the file leaves, in order
    std::string printed;             // the syntax errors, with PATH for the file
};

const site_case SITE_CASES[] = {
    {"status_file", "site east = status:/var/lib/nagios4/status.dat\n",
     {"east=status|/var/lib/nagios4/status.dat||0|"}, ""},
    {"status_file_with_its_pipe",
     "site east = status:/var/lib/nagios4/status.dat /var/lib/nagios4/rw/nagios.cmd\n",
     {"east=status|/var/lib/nagios4/status.dat||0|/var/lib/nagios4/rw/nagios.cmd"}, ""},
    {"unix_socket", "site berlin = livestatus:/run/icinga2/cmd/livestatus\n",
     {"berlin=unix|/run/icinga2/cmd/livestatus||0|"}, ""},
    {"tcp", "site Paris_2 = livestatus:192.0.2.7:6558\n", {"Paris_2=tcp||192.0.2.7|6558|"}, ""},
    {"tcp_name", "site x-1 = livestatus:mon.example.org:1\n", {"x-1=tcp||mon.example.org|1|"},
     ""},
    {"ipv6_in_brackets", "site v6 = livestatus:[2001:db8::1]:65535\n",
     {"v6=tcp||2001:db8::1|65535|"}, ""},
    {"tabs_and_a_comment", "\tsite\ta\t=\tstatus:s.dat\n# site b = status:t.dat\n",
     {"a=status|s.dat||0|"}, ""},
    {"in_file_order",
     "site one = status:1.dat\nsite two = livestatus:/s\nsite three = livestatus:h:9\n",
     {"one=status|1.dat||0|", "two=unix|/s||0|", "three=tcp||h|9|"}, ""},
    {"name_of_32_characters", "site " + std::string(32, 'n') + " = status:a\n",
     {std::string(32, 'n') + "=status|a||0|"}, ""},
    // Errors: the line is reported, nothing else changes.
    {"name_of_33_characters", "site " + std::string(33, 'n') + " = status:a\n", {},
     "PATH: syntax error on line 1\n"},
    {"name_with_other_characters",
     "site a.b = status:a\nsite a:b = status:a\nsite ä = status:a\nsite a/b = status:a\n", {},
     "PATH: syntax error on line 1\nPATH: syntax error on line 2\n"
     "PATH: syntax error on line 3\nPATH: syntax error on line 4\n"},
    {"the_same_name_twice", "site a = status:1\nsite b = status:2\nsite a = status:3\n",
     {"a=status|1||0|", "b=status|2||0|"}, "PATH: syntax error on line 3\n"},
    {"values_of_another_form",
     "site a = status:\nsite b = file:/x\nsite c = livestatus:\nsite d = livestatus:host\n"
     "site e = livestatus:host:\nsite f = livestatus:host:0\nsite g = livestatus:host:65536\n"
     "site h = livestatus:host:12x\nsite i = livestatus:2001:db8::1:6558\n"
     "site j = livestatus:[2001:db8::1]6558\nsite k = livestatus:[host]:1\n"
     "site l = livestatus:/s /x.cmd\nsite m == status:a\nsite n = STATUS:a\n"
     "site o = livestatus::1\nsite p = livestatus:ho$t:1\n",
     {},
     "PATH: syntax error on line 1\nPATH: syntax error on line 2\nPATH: syntax error on line 3\n"
     "PATH: syntax error on line 4\nPATH: syntax error on line 5\nPATH: syntax error on line 6\n"
     "PATH: syntax error on line 7\nPATH: syntax error on line 8\nPATH: syntax error on line 9\n"
     "PATH: syntax error on line 10\nPATH: syntax error on line 11\n"
     "PATH: syntax error on line 12\nPATH: syntax error on line 13\n"
     "PATH: syntax error on line 14\nPATH: syntax error on line 15\n"
     "PATH: syntax error on line 16\n"},
    {"too_few_words", "site a =\nsite a\n", {},
     "PATH: syntax error on line 1\nPATH: syntax error on line 2\n"},
};

class SiteLines : public testing::TestWithParam<site_case> {};

TEST_P(SiteLines, GiveTheirSites)
{
    const site_case &c = GetParam();
    const std::string path = test_dir() + "/quelvanrc";
    write_file(path, c.content);
    settings_reset();
    testing::internal::CaptureStdout();
    read_dot_file(path.c_str());
    std::string printed = testing::internal::GetCapturedStdout();
    std::vector<std::string> got;
    for (int i = 0; i < site_count; i++)
        got.push_back(describe(sites[i]));
    EXPECT_EQ(got, c.sites);
    std::string expected = c.printed;
    for (size_t at; (at = expected.find("PATH")) != std::string::npos;)
        expected.replace(at, 4, path);
    EXPECT_EQ(printed, expected);
}

INSTANTIATE_TEST_SUITE_P(Config, SiteLines, testing::ValuesIn(SITE_CASES),
                         [](const testing::TestParamInfo<site_case> &i) { return i.param.name; });

TEST(SiteLines, TheLimitOfSitesIsASyntaxErrorBeyondIt)
{
    std::string content;
    for (int i = 0; i <= MAX_SITES; i++)
        content += "site s" + std::to_string(i) + " = status:f" + std::to_string(i) + "\n";
    const std::string path = test_dir() + "/quelvanrc";
    write_file(path, content);
    settings_reset();
    testing::internal::CaptureStdout();
    read_dot_file(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              path + ": syntax error on line " + std::to_string(MAX_SITES + 1) + "\n");
    ASSERT_EQ(site_count, MAX_SITES);
    // Appended: "s" + std::string makes gcc 12 at -O3 warn, falsely, of
    // overlapping copies (restrict).
    const std::string last = std::string("s").append(std::to_string(MAX_SITES - 1));
    EXPECT_STREQ(sites[MAX_SITES - 1].name, last.c_str());
}

TEST(SiteLines, TheSiteTimeoutIsAnAge)
{
    struct {
        const char *line;
        int secs;
        bool error;
    } cases[] = {
        {"default site_timeout = 30s", 30, false},
        {"default site_timeout = 2m", 120, false},
        {"default site_timeout = 0", 10, true},
        {"default site_timeout = soon", 10, true},
    };
    for (const auto &c : cases) {
        const std::string path = test_dir() + "/quelvanrc";
        write_file(path, std::string(c.line) + "\n");
        settings_reset();
        testing::internal::CaptureStdout();
        read_dot_file(path.c_str());
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(site_timeout_secs, c.secs) << c.line;
        EXPECT_EQ(printed, c.error ? path + ": syntax error on line 1\n" : "") << c.line;
    }
}

// The system file's sites come first, the user's follow; the same name in
// both is the user file's error.
TEST(SiteLines, BothFilesAddSites)
{
    const std::string dir = test_dir();
    write_file(dir + "/home/.quelvanrc", "site b = status:2\nsite a = status:3\n");
    settings_reset();
    write_file(dir + "/system", "site a = status:1\n");
    testing::internal::CaptureStdout();
    read_dot_file((dir + "/system").c_str());
    read_dot_file((dir + "/home/.quelvanrc").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              dir + "/home/.quelvanrc: syntax error on line 2\n");
    ASSERT_EQ(site_count, 2);
    EXPECT_STREQ(sites[0].name, "a");
    EXPECT_STREQ(sites[1].name, "b");
}

}  // namespace
