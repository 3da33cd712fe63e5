// SPDX-License-Identifier: GPL-2.0-or-later
// Configuration lines: what each one does to the view settings, and which
// ones are reported as syntax errors (and then change nothing).
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "harness.h"
#include "quelvan.h"

namespace {

// Every setting a configuration file can reach, compared as a whole so that
// a line that should change one thing is seen to change nothing else.
struct settings {
    int object_mode, host_level, service_level, sort_mode, filter_set;
    std::string name_filter, not_name_filter, age_filter;
    int age_filter_secs;
    std::string age_okay_filter;
    int age_okay_filter_secs;
    std::vector<std::string> fkey_name, fkey_not_name;
    std::string site_name;
    int pad, header_pad, polling_interval, color, debugging, cur_page;
    std::string command_file;
    int ack_sticky, ack_notify;

    bool operator==(const settings &) const = default;
};

settings current()
{
    settings s{object_mode, host_level, service_level, sort_mode, filter_set,
               name_filter, not_name_filter, age_filter, age_filter_secs,
               age_okay_filter, age_okay_filter_secs, {}, {}, site_name,
               pad, header_pad, polling_interval, color, debugging, cur_page,
               command_file, ack_sticky, ack_notify};
    for (int i = 0; i < NUM_FKEYS; i++) {
        s.fkey_name.push_back(fkey_name_filters[i]);
        s.fkey_not_name.push_back(fkey_not_name_filters[i]);
    }
    return s;
}

std::string describe(const settings &s)
{
    std::string d = "mode " + std::to_string(s.object_mode) + " host " +
                    std::to_string(s.host_level) + " service " +
                    std::to_string(s.service_level) + " sort " + std::to_string(s.sort_mode) +
                    " filter_set " + std::to_string(s.filter_set) + " name [" + s.name_filter +
                    "] not [" + s.not_name_filter + "] age [" + s.age_filter + "] " +
                    std::to_string(s.age_filter_secs) + " okay [" + s.age_okay_filter + "] " +
                    std::to_string(s.age_okay_filter_secs) + " site [" + s.site_name + "]";
    for (int i = 0; i < NUM_FKEYS; i++)
        if (!s.fkey_name[i].empty() || !s.fkey_not_name[i].empty())
            d += " f" + std::to_string(i) + " [" + s.fkey_name[i] + "|" + s.fkey_not_name[i] + "]";
    d += " pad " + std::to_string(s.pad) + " header_pad " + std::to_string(s.header_pad) +
         " interval " + std::to_string(s.polling_interval) + " color " +
         std::to_string(s.color) + " debugging " + std::to_string(s.debugging) + " page " +
         std::to_string(s.cur_page) + " command_file [" + s.command_file + "] ack " +
         std::to_string(s.ack_sticky) + " notify " + std::to_string(s.ack_notify);
    return d;
}

// Reads one file of the given content from start values; returns what it
// printed.
std::string read_lines(const std::string &path, const std::string &content)
{
    write_file(path, content);
    settings_reset();
    testing::internal::CaptureStdout();
    read_dot_file(path.c_str());
    return testing::internal::GetCapturedStdout();
}

std::string errors_on(const std::string &path, const std::vector<int> &lines)
{
    std::string out;
    for (int n : lines)
        out += path + ": syntax error on line " + std::to_string(n) + "\n";
    return out;
}

struct line_case {
    std::string content;
    std::vector<int> error_lines;
    std::function<void(settings &)> effect;  // applied to the start values
};

void run_cases(const std::vector<line_case> &cases)
{
    std::string path = test_dir() + "/quelvanrc";
    settings_reset();
    const settings start = current();
    for (const auto &c : cases) {
        SCOPED_TRACE("file: \"" + c.content + "\"");
        std::string out = read_lines(path, c.content);
        EXPECT_EQ(out, errors_on(path, c.error_lines));
        settings want = start;
        if (c.effect)
            c.effect(want);
        settings got = current();
        EXPECT_TRUE(got == want) << "got:  " << describe(got) << "\nwant: " << describe(want);
    }
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

TEST(ConfigLines, CommentsBlankLinesAndTokenCounts)
{
    run_cases({
        {"", {}, nullptr},
        {"\n\n\n", {}, nullptr},
        {"# a comment\n#\n#default level = DOWN\n", {}, nullptr},
        {"   # indented\n\t#tabbed\n \t #default level = DOWN\n", {}, nullptr},
        {"   \n", {1}, nullptr},
        {"\n \t \n\t\n", {2, 3}, nullptr},
        {"default\n", {1}, nullptr},
        {"default level\n", {1}, nullptr},
        {"default level =\n", {1}, nullptr},
        {"default level = \t \n", {1}, nullptr},
        // Only blanks and tabs separate; other control characters are text.
        {"\t default \t\t level\t=   DOWN\n", {}, [](settings &s) {
             s.object_mode = 0;
             s.host_level = 2;
         }},
        {"default\vlevel = DOWN\n", {1}, nullptr},
        // Tokens after the fourth are ignored.
        {"default sort_order = by_age please\n", {}, [](settings &s) { s.sort_mode = 1; }},
        {"default site_name = Main Site\n", {}, [](settings &s) { s.site_name = "Main"; }},
        // A keyword is compared whole: a prefix or an extension of one is
        // an error, in either place of the line.
        {"default sort = by_age\ndefault sort_orders = by_age\ndefaults level = DOWN\n"
         "f3 texts =~ /x/\ndefau level = DOWN\nf3 tex =~ /x/\ndefault levels = DOWN\n",
         {1, 2, 3, 4, 5, 6, 7}, nullptr},
        // Each line counts, comments and errors included; the good ones apply.
        {"# head\n\ndefault level = OK\ndefault level = DOWN\nbogus\n", {3, 5},
         [](settings &s) {
             s.object_mode = 0;
             s.host_level = 2;
         }},
    });
}

TEST(ConfigLines, LevelAndSortOrder)
{
    run_cases({
        {"default level = OKAY\n", {}, [](settings &s) { s.service_level = 0; }},
        {"default level = WARNING\n", {}, [](settings &s) { s.service_level = 1; }},
        {"default level = CRITICAL\n", {}, [](settings &s) { s.service_level = 2; }},
        {"default level = UP\n", {}, [](settings &s) { s.object_mode = 0; }},
        {"default level = DOWN\n", {}, [](settings &s) {
             s.object_mode = 0;
             s.host_level = 2;
         }},
        // The level of the other kind of object stays as it was.
        {"default level = DOWN\ndefault level = WARNING\n", {}, [](settings &s) {
             s.host_level = 2;
             s.service_level = 1;
         }},
        {"default level = CRITICAL\ndefault level = UP\n", {}, [](settings &s) {
             s.object_mode = 0;
             s.service_level = 2;
         }},
        {"default level = OK\n", {1}, nullptr},
        {"default level = okay\n", {1}, nullptr},
        {"default level = DOWNS\n", {1}, nullptr},
        {"default level == DOWN\n", {1}, nullptr},
        {"default level =~ DOWN\n", {1}, nullptr},
        {"default sort_order = by_age\n", {}, [](settings &s) { s.sort_mode = 1; }},
        {"default sort_order = by_age\ndefault sort_order = by_name\n", {}, nullptr},
        {"default sort_order = BY_AGE\n", {1}, nullptr},
        {"default sort_order = age\n", {1}, nullptr},
        {"default sort_order != by_age\n", {1}, nullptr},
        // Comparisons are exact and case-sensitive on every token.
        {"Default level = DOWN\n", {1}, nullptr},
        {"default Level = DOWN\n", {1}, nullptr},
        {"defaults level = DOWN\n", {1}, nullptr},
        // Settings that only the command line may give.
        {"default pad = 3\ndefault header_pad = 3\n", {1, 2}, nullptr},
        {"default polling_interval = 10\ndefault color = 0\ndefault debugging = 1\n",
         {1, 2, 3}, nullptr},
        {"default mode = h\n", {1}, nullptr},
    });
}

TEST(ConfigLines, RegexFilters)
{
    run_cases({
        {"default text =~ /web/\n", {}, [](settings &s) {
             s.name_filter = "web";
             s.filter_set = FILTER_REGEX;
         }},
        {"default text !~ /test/\n", {}, [](settings &s) {
             s.not_name_filter = "test";
             s.filter_set = FILTER_NOT_REGEX;
         }},
        // A file sets its bit and leaves the other regex bit alone.
        {"default text =~ /web/\ndefault text !~ /test/\n", {}, [](settings &s) {
             s.name_filter = "web";
             s.not_name_filter = "test";
             s.filter_set = FILTER_REGEX | FILTER_NOT_REGEX;
         }},
        {"default text =~ /a/\ndefault text =~ /b/\n", {}, [](settings &s) {
             s.name_filter = "b";
             s.filter_set = FILTER_REGEX;
         }},
        {"default text =~ /^(web|db)-0[1-3]$/\n", {}, [](settings &s) {
             s.name_filter = "^(web|db)-0[1-3]$";
             s.filter_set = FILTER_REGEX;
         }},
        // Slashes inside are kept; only the first and the last go.
        {"default text =~ /a/b/\n", {}, [](settings &s) {
             s.name_filter = "a/b";
             s.filter_set = FILTER_REGEX;
         }},
        // One slash alone and two slashes both give the empty text.
        {"default text =~ /\n", {}, [](settings &s) { s.filter_set = FILTER_REGEX; }},
        {"default text !~ //\n", {}, [](settings &s) { s.filter_set = FILTER_NOT_REGEX; }},
        {"default text =~ web\n", {1}, nullptr},
        {"default text =~ /web\n", {1}, nullptr},
        {"default text =~ web/\n", {1}, nullptr},
        {"default text = /web/\n", {1}, nullptr},
        {"default text ~ /web/\n", {1}, nullptr},
        // A blank ends the value, so a pattern cannot hold one.
        {"default text =~ /web server/\n", {1}, nullptr},
        // A filter line of a file leaves the other age bits alone too.
        {"default age = 5m\ndefault text =~ /x/\n", {}, [](settings &s) {
             s.age_filter = "5m";
             s.age_filter_secs = 300;
             s.name_filter = "x";
             s.filter_set = FILTER_AGE | FILTER_REGEX;
         }},
    });
}

TEST(ConfigLines, AgeFilters)
{
    run_cases({
        {"default age = 5m\n", {}, [](settings &s) {
             s.age_filter = "5m";
             s.age_filter_secs = 300;
             s.filter_set = FILTER_AGE;
         }},
        {"default age = 90min\n", {}, [](settings &s) {
             s.age_filter = "90m";
             s.age_filter_secs = 5400;
             s.filter_set = FILTER_AGE;
         }},
        {"default okay_age = 1d\n", {}, [](settings &s) {
             s.age_okay_filter = "1d";
             s.age_okay_filter_secs = 86400;
             s.filter_set = FILTER_OKAY_AGE;
         }},
        // The value is one token: "hrs" is a fifth one, ignored.
        {"default age = 2 hrs\n", {}, [](settings &s) {
             s.age_filter = "2s";
             s.age_filter_secs = 2;
             s.filter_set = FILTER_AGE;
         }},
        // A bad age keeps the filter set before it, text and seconds.
        {"default age = 1d\ndefault age = 0\ndefault age = soon\ndefault age = 0m\n",
         {2, 3, 4}, [](settings &s) {
             s.age_filter = "1d";
             s.age_filter_secs = 86400;
             s.filter_set = FILTER_AGE;
         }},
        {"default okay_age = 2h\ndefault okay_age = 5M\n", {2}, [](settings &s) {
             s.age_okay_filter = "2hr";
             s.age_okay_filter_secs = 7200;
             s.filter_set = FILTER_OKAY_AGE;
         }},
        // The two age filters exclude each other; the cleared one's text stays
        // behind unused.
        {"default age = 1d\ndefault okay_age = 2h\n", {}, [](settings &s) {
             s.age_filter = "1d";
             s.age_filter_secs = 86400;
             s.age_okay_filter = "2hr";
             s.age_okay_filter_secs = 7200;
             s.filter_set = FILTER_OKAY_AGE;
         }},
        {"default okay_age = 2h\ndefault age = 1d\n", {}, [](settings &s) {
             s.age_filter = "1d";
             s.age_filter_secs = 86400;
             s.age_okay_filter = "2hr";
             s.age_okay_filter_secs = 7200;
             s.filter_set = FILTER_AGE;
         }},
        // A failed age line does not turn the other age filter off.
        {"default okay_age = 2h\ndefault age = never\n", {2}, [](settings &s) {
             s.age_okay_filter = "2hr";
             s.age_okay_filter_secs = 7200;
             s.filter_set = FILTER_OKAY_AGE;
         }},
        // A negative age is an age like any other (not 0).
        {"default age = -5m\n", {}, [](settings &s) {
             s.age_filter = "-5m";
             s.age_filter_secs = -300;
             s.filter_set = FILTER_AGE;
         }},
        {"default age =~ 5m\ndefault age 5m now\n", {1, 2}, nullptr},
        {"default Age = 5m\ndefault okay-age = 5m\n", {1, 2}, nullptr},
    });
}

TEST(ConfigLines, FunctionKeySubjects)
{
    auto slot3 = [](settings &s) { s.fkey_name[3] = "web"; };
    run_cases({
        {"f3 text =~ /web/\n", {}, slot3},
        {"f03 text =~ /web/\n", {}, slot3},
        {"f+3 text =~ /web/\n", {}, slot3},
        {"f3x text =~ /web/\n", {}, slot3},
        {"f0 text =~ /zero/\n", {}, [](settings &s) { s.fkey_name[0] = "zero"; }},
        {"f-0 text =~ /zero/\n", {}, [](settings &s) { s.fkey_name[0] = "zero"; }},
        {"f12 text !~ /test/\n", {}, [](settings &s) { s.fkey_not_name[12] = "test"; }},
        // A slot holds a positive and a negative text side by side; the
        // filter state is not touched.
        {"f5 text =~ /a/\nf5 text !~ /b/\nf5 text =~ /c/\n", {}, [](settings &s) {
             s.fkey_name[5] = "c";
             s.fkey_not_name[5] = "b";
         }},
        {"f1 text =~ /\nf2 text !~ //\n", {}, nullptr},
        {"f13 text =~ /x/\n", {1}, nullptr},
        {"f-1 text =~ /x/\n", {1}, nullptr},
        {"f12 text !~ x\n", {1}, nullptr},
        // Numbers beyond 32 bits are out of range, not wrapped into a slot.
        {"f4294967299 text =~ /x/\nf2147483648 text =~ /x/\nf-4294967295 text =~ /x/\n",
         {1, 2, 3}, nullptr},
        {"f99999999999999999999999 text =~ /x/\n", {1}, nullptr},
        {"F3 text =~ /x/\n", {1}, nullptr},
        {"f text =~ /x/\nfx text =~ /x/\nf+ text =~ /x/\n", {1, 2, 3}, nullptr},
        {"f3 name =~ /x/\nf3 text = /x/\nf3 text ~= /x/\nf3 age = 5m\n", {1, 2, 3, 4},
         nullptr},
        {"key3 text =~ /x/\n", {1}, nullptr},
    });
}

TEST(ConfigLines, CommandStatements)
{
    run_cases({
        {"default command_file = /var/lib/nagios4/rw/nagios.cmd\n", {},
         [](settings &s) { s.command_file = "/var/lib/nagios4/rw/nagios.cmd"; }},
        {"default command_file = rw/nagios.cmd\n", {},
         [](settings &s) { s.command_file = "rw/nagios.cmd"; }},
        // "none" turns the actions off; the last statement wins.
        {"default command_file = /a.cmd\ndefault command_file = none\n", {},
         [](settings &s) { s.command_file = ""; }},
        {"default command_file = none\ndefault command_file = /b.cmd\n", {},
         [](settings &s) { s.command_file = "/b.cmd"; }},
        // One word: a blank ends the path.
        {"default command_file = /my pipe\n", {}, [](settings &s) { s.command_file = "/my"; }},
        {"default command_file =~ /a.cmd/\ndefault command_file\nf3 command_file = /a\n",
         {1, 2, 3}, nullptr},
        {"default ack = normal\n", {}, [](settings &s) { s.ack_sticky = 0; }},
        {"default ack = normal\ndefault ack = sticky\n", {}, nullptr},
        {"default ack_notify = no\n", {}, [](settings &s) { s.ack_notify = 0; }},
        {"default ack_notify = no\ndefault ack_notify = yes\n", {}, nullptr},
        {"default ack = normal\ndefault ack_notify = no\n", {}, [](settings &s) {
             s.ack_sticky = 0;
             s.ack_notify = 0;
         }},
        // Other values are errors that change nothing, line by line.
        {"default ack = Sticky\ndefault ack = 2\ndefault ack = persistent\ndefault ack = \n",
         {1, 2, 3, 4}, nullptr},
        {"default ack = normal\ndefault ack_notify = 0\ndefault ack_notify = true\n"
         "default ack_notify == no\ndefault acks = normal\n",
         {2, 3, 4, 5}, [](settings &s) { s.ack_sticky = 0; }},
        {"default ack_notify = no\r\n", {1}, nullptr},
    });
}

TEST(ConfigLines, CarriageReturnLineEnds)
{
    // The carriage return stays in the last token: values in slashes and
    // words then no longer match, a site name keeps it, and an age value is
    // still read, the age reader stopping at the carriage return.
    run_cases({
        {"default level = UP\r\n", {1}, nullptr},
        {"default sort_order = by_age\r\n", {1}, nullptr},
        {"default text =~ /x/\r\nf3 text =~ /x/\r\n", {1, 2}, nullptr},
        {"default site_name = Main\r\n", {}, [](settings &s) { s.site_name = "Main\r"; }},
        {"default age = 5m\r\n", {}, [](settings &s) {
             s.age_filter = "5m";
             s.age_filter_secs = 300;
             s.filter_set = FILTER_AGE;
         }},
        // A carriage return that is not the last token's is harmless.
        {"default sort_order = by_age x\r\n", {}, [](settings &s) { s.sort_mode = 1; }},
        {"# comment\r\n\r\n", {2}, nullptr},
    });
}

TEST(ConfigLines, LongLinesAreReadInPieces)
{
    std::string x1023 = repeat('x', 1023);
    std::string site = "default site_name = ";
    run_cases({
        // The last line without a line end is applied whole.
        {"default level = DOWN", {}, [](settings &s) {
             s.object_mode = 0;
             s.host_level = 2;
         }},
        {"default site_name = Main", {}, [](settings &s) { s.site_name = "Main"; }},
        // 1023 characters fill the buffer; the line end is a second, empty
        // piece that counts as line 2.
        {x1023 + "\ndefault level = UP\n", {1}, [](settings &s) { s.object_mode = 0; }},
        // The first piece holds 1023 characters, the rest is line 2.
        {site + repeat('s', 2000) + "\ndefault sort_order = by_age\n", {2},
         [&](settings &s) {
             s.site_name = repeat('s', 1023 - site.size());
             s.sort_mode = 1;
         }},
        // A long comment goes on as a line of its own, which is not one.
        {"#" + repeat('c', 1100) + "\ndefault level = UP\n", {2},
         [](settings &s) { s.object_mode = 0; }},
        // Each piece is handled as a line by itself, statements included.
        {"#" + repeat('c', 1022) + "default level = DOWN\n", {}, [](settings &s) {
             s.object_mode = 0;
             s.host_level = 2;
         }},
        {"default text =~ /" + repeat('r', 3000) + "/\n", {1, 2, 3}, nullptr},
        {"default text =~ /" + repeat('r', 1004) + "/\n", {}, [](settings &s) {
             s.name_filter = repeat('r', 1004);
             s.filter_set = FILTER_REGEX;
         }},
        // A NUL byte ends what the line holds.
        {"default level = DOWN" + std::string(1, '\0') + " junk\ndefault sort_order = by_age\n", {},
         [](settings &s) {
             s.object_mode = 0;
             s.host_level = 2;
             s.sort_mode = 1;
         }},
    });
}

TEST(ConfigLines, FilesThatCannotBeReadAreSkippedSilently)
{
    std::string dir = test_dir();
    for (const std::string &path : {dir + "/missing", dir, std::string()}) {
        settings_reset();
        const settings start = current();
        testing::internal::CaptureStdout();
        read_dot_file(path.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
        EXPECT_TRUE(current() == start) << path;
    }
}

// The shipped sample: its live lines read cleanly, every switched-off
// example does too, and between them every kind of statement is shown.
TEST(ConfigLines, SampleFileShowsEveryStatement)
{
    const std::string sample = read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvanrc");
    ASSERT_FALSE(sample.empty());
    std::string dir = test_dir();
    EXPECT_EQ(read_lines(dir + "/live", sample), "");
    EXPECT_STREQ(site_name, "sample");
    EXPECT_EQ(site_count, 0);  // the demo reads its one status file
    EXPECT_STREQ(fkey_name_filters[1], "^web-");
    EXPECT_STREQ(fkey_not_name_filters[6], "^backup-");

    std::string all;
    size_t examples = 0;
    for (size_t at = 0; at < sample.size();) {
        size_t end = sample.find('\n', at);
        std::string line = sample.substr(at, end - at);
        at = end == std::string::npos ? sample.size() : end + 1;
        if (line.rfind("#default ", 0) == 0 || line.rfind("#site ", 0) == 0) {
            line.erase(0, 1);
            examples++;
        }
        all += line + "\n";
    }
    EXPECT_GT(examples, 0u);
    EXPECT_EQ(read_lines(dir + "/all", all), "");
    for (const char *statement :
         {"\ndefault level = OKAY\n", "\ndefault level = WARNING\n", "\ndefault level = CRITICAL\n",
          "\ndefault level = UP\n", "\ndefault level = DOWN\n", "\ndefault sort_order = by_name\n",
          "\ndefault sort_order = by_age\n", "\ndefault site_name = ", "\ndefault text =~ /",
          "\ndefault text !~ /", "\ndefault age = ", "\ndefault okay_age = ", " text =~ /",
          " text !~ /", "\ndefault command_file = /", "\ndefault command_file = none\n",
          "\ndefault ack = sticky\n", "\ndefault ack = normal\n", "\ndefault ack_notify = yes\n",
          "\ndefault ack_notify = no\n", "\ndefault site_timeout = ", "\nsite "})
        EXPECT_NE(all.find(statement), std::string::npos) << statement;
    EXPECT_NE(all.find("\nf1 text"), std::string::npos);
    // Each kind of site, the status site with its pipe.
    std::set<int> kinds;
    bool pipe = false;
    for (int i = 0; i < site_count; i++) {
        kinds.insert(sites[i].kind);
        pipe |= sites[i].kind == SITE_STATUS && sites[i].command_file[0] != '\0';
    }
    EXPECT_EQ(kinds.size(), 3u);
    EXPECT_TRUE(pipe);
    settings_reset();
}

}  // namespace
