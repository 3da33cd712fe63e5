// SPDX-License-Identifier: GPL-2.0-or-later
// The screen as a user meets it: the real binary in a tmux terminal, on small
// status files written per test and on the real Nagios 4 status file.
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

constexpr long NOW = 1700000000;  // Tue Nov 14 22:13:20 2023 UTC

// Four hosts and six services of every level; names show their level.
std::string small_site()
{
    return host_stanza("web1", 0, "PING OK - Packet loss = 0%, RTA = 0.80 ms", NOW - 100) +
           host_stanza("db1", 1, "CRITICAL - Host Unreachable (10.0.0.7)", NOW - 7200) +
           host_stanza("mail", 0, "OK", NOW - 90000) +
           host_stanza("odd", 2, "strange state", NOW - 59) +
           service_stanza("web1", "HTTP", 0, "HTTP OK: HTTP/1.1 200 OK", NOW - 100) +
           service_stanza("web1", "Load", 1, "WARNING - load average: 5.10", NOW - 4000) +
           service_stanza("db1", "Disk /", 2, "DISK CRITICAL - free space: / 3%", NOW - 30) +
           service_stanza("db1", "Temp", 3, "UNKNOWN - sensor not found", NOW - 50000) +
           service_stanza("mail", "SMTP", 0, "SMTP OK", NOW - 200000) +
           service_stanza("mail", "Queue", 2, "CRITICAL - 900 mails queued", NOW - 10);
}

// A second fresh directory beside the test's own, for a second run.
std::string second_dir(const std::string &dir)
{
    std::filesystem::path second = dir + "-2";
    std::filesystem::remove_all(second);
    std::filesystem::create_directories(second);
    return second.string();
}

std::vector<std::string> rows_of(const tty &t)
{
    std::vector<std::string> rows;
    std::istringstream s(tty_screen(t));
    std::string row;
    while (std::getline(s, row)) {
        row.erase(row.find_last_not_of(' ') + 1);
        rows.push_back(row);
    }
    return rows;
}

// Starts the console on the small site and waits for its first screen.
tty start(const std::string &dir, const std::vector<std::string> &args, int cols = 80,
          int rows = 24, const std::string &rc = "")
{
    write_defaults(dir, status_file(NOW, small_site()));
    if (!rc.empty())
        write_file(dir + "/.quelvanrc", rc);
    tty t = tty_start(dir, args, cols, rows);
    EXPECT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    return t;
}

// The item rows (row 7 on) that are not empty, from the name field's column 11.
std::vector<std::string> fields_shown(const std::vector<std::string> &rows, int first = 7,
                                      int last = 19)
{
    std::vector<std::string> fields;
    for (int r = first; r <= last && r < static_cast<int>(rows.size()); r++)
        if (!rows[r].empty())
            fields.push_back(rows[r].size() > 11 ? rows[r].substr(11) : "");
    return fields;
}

// Each shown row begins with the next name and a blank, in screen order.
void expect_names(const std::vector<std::string> &rows, const std::vector<std::string> &names,
                  int first = 7, int last = 19)
{
    std::vector<std::string> fields = fields_shown(rows, first, last);
    ASSERT_EQ(fields.size(), names.size());
    for (size_t i = 0; i < names.size(); i++)
        EXPECT_EQ(fields[i].rfind(names[i] + " ", 0), 0u) << fields[i] << " / " << names[i];
}

// The foreground colour (SGR 30-37, 39 for none) in force at the first cell
// of each row of a capture with escapes.
std::vector<int> row_colours(const tty &t)
{
    std::string s = tty_screen(t, true);
    std::vector<int> colours;
    int fg = 39;
    bool row_start = true;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\x1b' && i + 1 < s.size() && s[i + 1] == '[') {
            size_t end = s.find('m', i);
            if (end == std::string::npos)
                break;
            std::string params = s.substr(i + 2, end - i - 2);
            std::istringstream ps(params);
            std::string p;
            if (params.empty())
                fg = 39;
            while (std::getline(ps, p, ';')) {
                int v = p.empty() ? 0 : std::stoi(p);
                if (v == 0 || v == 39)
                    fg = 39;
                else if (v >= 30 && v <= 37)
                    fg = v;
            }
            i = end;
            continue;
        }
        if (row_start) {
            colours.push_back(fg);
            row_start = false;
        }
        if (s[i] == '\n')
            row_start = true;
    }
    return colours;
}

TEST(ScreenTty, HostScreenOf80x24)
{
    const std::string dir = test_dir();
    tty t = start(dir, {"-m", "h"}, 80, 24, "default site_name = Ops\n");
    const std::vector<std::string> expected = {
        "",
        "  Ops Quelvan v" QUELVAN_VERSION "                4 Host Objects          Tue Nov 14 22:13:20",
        "  Age: any                                                       Sort: by name",
        "  Filter: none                                                     page 1 of 1",
        "",
        " Status    Description                Plugin Output    Last Change     Duration",
        " --------  ----------------------------------------  ----------------  --------",
        " UP        web1 OK - Packet loss = 0%, RTA = 0.80 m  Tue Nov 14 22:11    1m 40s",
        " DOWN      db1 ITICAL - Host Unreachable (10.0.0.7)  Tue Nov 14 20:13     2h 0m",
        " UP        mail                                  OK  Mon Nov 13 21:13     1d 1h",
        "           odd                        strange state  Tue Nov 14 22:12    0m 59s",
        "", "", "", "", "", "", "", "", "", "", "",
        " Command:",
        "",
    };
    EXPECT_EQ(rows_of(t), expected);
    EXPECT_EQ(tty_cursor(t), "22,10");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

TEST(ScreenTty, ServiceScreenOf80x24)
{
    const std::string dir = test_dir();
    tty t = start(dir, {});
    const std::vector<std::string> expected = {
        "",
        "   Quelvan v" QUELVAN_VERSION "                  6 Service Objects        Tue Nov 14 22:13:20",
        "  Age: any                                                       Sort: by name",
        "  Filter: none                                                     page 1 of 1",
        "",
        " Status    Description                Plugin Output    Last Change     Duration",
        " --------  ----------------------------------------  ----------------  --------",
        " OKAY      web1 HTTP       HTTP OK: HTTP/1.1 200 OK  Tue Nov 14 22:11    1m 40s",
        " WARNING   web1 Load   WARNING - load average: 5.10  Tue Nov 14 21:06     1h 6m",
        " CRITICAL  db1 Disk /   CRITICAL - free space: / 3%  Tue Nov 14 22:12    0m 30s",
        " UNKNOWN   db1 Temp      UNKNOWN - sensor not found  Tue Nov 14 08:20   13h 53m",
        " OKAY      mail SMTP                        SMTP OK  Sun Nov 12 14:40     2d 7h",
        " CRITICAL  mail Queue   CRITICAL - 900 mails queued  Tue Nov 14 22:13    0m 10s",
        "", "", "", "", "", "", "", "", "",
        " Command:",
        "",
    };
    EXPECT_EQ(rows_of(t), expected);
}

TEST(ScreenTty, LevelsAndOrders)
{
    struct row {
        std::vector<std::string> args;
        std::string count;
        std::vector<std::string> names;
    } rows[] = {
        {{"-l", "o"},
         "6 Service Objects",
         {"web1 HTTP", "web1 Load", "db1 Disk /", "db1 Temp", "mail SMTP", "mail Queue"}},
        {{"-l", "w"}, "4 Alerts", {"web1 Load", "db1 Disk /", "db1 Temp", "mail Queue"}},
        {{"-l", "c"}, "2 Alerts", {"db1 Disk /", "mail Queue"}},
        {{"-l", "w", "-s", "a"}, "4 Alerts", {"mail Queue", "db1 Disk /", "web1 Load", "db1 Temp"}},
        {{"-l", "c", "-s", "a"}, "2 Alerts", {"mail Queue", "db1 Disk /"}},
        {{"-s", "a"},
         "6 Service Objects",
         {"mail Queue", "db1 Disk /", "web1 HTTP", "web1 Load", "db1 Temp", "mail SMTP"}},
        {{"-l", "u"}, "4 Host Objects", {"web1", "db1", "mail", "odd"}},
        {{"-l", "d"}, "1 Down Host", {"db1"}},
        {{"-m", "h", "-s", "a"}, "4 Host Objects", {"odd", "web1", "db1", "mail"}},
        {{"-l", "d", "-s", "a"}, "1 Down Host", {"db1"}},
    };
    for (const auto &r : rows) {
        std::string what;
        for (const auto &a : r.args)
            what += a + " ";
        SCOPED_TRACE(what);
        const std::string dir = test_dir();
        tty t = start(dir, r.args);
        std::vector<std::string> screen = rows_of(t);
        ASSERT_GE(screen.size(), 24u);
        EXPECT_NE(screen[1].find(" " + r.count + " "), std::string::npos) << screen[1];
        expect_names(screen, r.names);
        bool by_age = what.find("-s a") != std::string::npos;
        EXPECT_EQ(screen[2].substr(screen[2].size() - 13),
                  by_age ? " Sort: by age" : "Sort: by name");
    }
}

TEST(ScreenTty, FiltersAndTheirTexts)
{
    struct row {
        std::vector<std::string> args;
        std::string rc;
        std::string age, match, filter, page;
        std::vector<std::string> names;
    } rows[] = {
        {{"-g", "/db1/"}, "", "Age: any", "2 match the filter", "Filter: text =~ /db1/",
         "page 1 of 1", {"db1 Disk /", "db1 Temp"}},
        {{"-v", "/db1/"}, "", "Age: any", "4 match the filter", "Filter: text !~ /db1/",
         "page 1 of 1", {"web1 HTTP", "web1 Load", "mail SMTP", "mail Queue"}},
        {{"-g", "/Load/"}, "", "Age: any", "1 matches the filter", "Filter: text =~ /Load/",
         "page 1 of 1", {"web1 Load"}},
        {{"-g", "/nothing here/"}, "", "Age: any", "0 match the filter",
         "Filter: text =~ /nothing here/", "page 1 of 0", {}},
        {{"-a", "1h"}, "", "Age: all < 1h", "3 match the filter", "Filter: none", "page 1 of 1",
         {"web1 HTTP", "db1 Disk /", "mail Queue"}},
        {{"-A", "1h"}, "", "Age: ok < 1h", "5 match the filter", "Filter: none", "page 1 of 1",
         {"web1 HTTP", "web1 Load", "db1 Disk /", "db1 Temp", "mail Queue"}},
        {{"-m", "h", "-A", "1h"}, "", "Age: up < 1h", "3 match the filter", "Filter: none",
         "page 1 of 1", {"web1", "db1", "odd"}},
        {{"-l", "c", "-a", "20s"}, "", "Age: all < 20s", "1 matches the filter", "Filter: none",
         "page 1 of 1", {"mail Queue"}},
        // Both regex filters from the configuration: only the positive one is named.
        {{}, "default text =~ /db1/\ndefault text !~ /Temp/\n", "Age: any",
         "1 matches the filter", "Filter: text =~ /db1/", "page 1 of 1", {"db1 Disk /"}},
    };
    for (const auto &r : rows) {
        std::string what = r.rc;
        for (const auto &a : r.args)
            what += a + " ";
        SCOPED_TRACE(what);
        const std::string dir = test_dir();
        tty t = start(dir, r.args, 80, 24, r.rc);
        std::vector<std::string> screen = rows_of(t);
        ASSERT_GE(screen.size(), 24u);
        EXPECT_EQ(screen[2].substr(0, 2 + r.age.size()), "  " + r.age) << screen[2];
        // The match text is centred: COLS / 2 - len / 2 + 2, its leading blank included.
        const std::string match = " " + r.match;
        const size_t col = 40 - match.size() / 2 + 2;
        EXPECT_EQ(screen[2].substr(col, match.size()), match) << screen[2];
        EXPECT_EQ(screen[3].substr(0, 2 + r.filter.size()), "  " + r.filter) << screen[3];
        EXPECT_EQ(screen[3].substr(78 - r.page.size()), r.page) << screen[3];
        expect_names(screen, r.names);
    }
}

// The negative filter's hook calls are made only for items that passed the
// positive one, the texts hold a service's host name twice, and every match
// is counted to the end of the list.
TEST(ScreenTty, RegexHookCallsOfOneRedraw)
{
    const std::string dir = test_dir();
    const std::string hook = R"PERL(
sub host_plugin_hook { return $_[0]; }
sub service_plugin_hook { return $_[0]; }
sub regex_hook {
    my ($text, $pattern, $mode) = @_;
    open(my $log, '>>', 'calls.txt'); print $log "$mode $pattern $text\n"; close($log);
    my $match = $text =~ /$pattern/;
    return $mode == 0 ? !$match : $match;
}
1;
)PERL";
    write_defaults(dir, status_file(NOW, small_site()), hook);
    write_file(dir + "/.quelvanrc", "default text =~ /db1|mail/\ndefault text !~ /Temp/\n");
    tty t = tty_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "q");
    ASSERT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(read_file(dir + "/calls.txt"),
              "0 db1|mail web1 web1 HTTP HTTP OK: HTTP/1.1 200 OK\n"
              "0 db1|mail web1 web1 Load WARNING - load average: 5.10\n"
              "0 db1|mail db1 db1 Disk / DISK CRITICAL - free space: / 3%\n"
              "1 Temp db1 db1 Disk / DISK CRITICAL - free space: / 3%\n"
              "0 db1|mail db1 db1 Temp UNKNOWN - sensor not found\n"
              "1 Temp db1 db1 Temp UNKNOWN - sensor not found\n"
              "0 db1|mail mail mail SMTP SMTP OK\n"
              "1 Temp mail mail SMTP SMTP OK\n"
              "0 db1|mail mail mail Queue CRITICAL - 900 mails queued\n"
              "1 Temp mail mail Queue CRITICAL - 900 mails queued\n");
}

TEST(ScreenTty, EmptyLevelShowsPageZeroOfZero)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(NOW, host_stanza("web1", 0, "OK", NOW)));
    tty t = tty_start(dir, {"-l", "c"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    std::vector<std::string> screen = rows_of(t);
    EXPECT_NE(screen[1].find(" 0 Alerts "), std::string::npos) << screen[1];
    EXPECT_EQ(screen[3], "  Filter: none                                                     page 0 of 0");
    for (int r = 7; r <= 19; r++)
        EXPECT_EQ(screen[r], "") << r;
}

TEST(ScreenTty, PaddingOptionsMoveTheLayout)
{
    const std::string dir = test_dir();
    tty t = start(dir, {"-m", "h", "-p", "2", "-P", "5"}, 80, 24, "default site_name = Ops\n");
    std::vector<std::string> screen = rows_of(t);
    const std::vector<std::string> expected = {
        "",
        "",
        "     Ops Quelvan v" QUELVAN_VERSION "             4 Host Objects       Tue Nov 14 22:13:20",
        "     Age: any                                                 Sort: by name",
        "     Filter: none                                               page 1 of 1",
        "",
        "  Status    Description              Plugin Output    Last Change     Duration",
        "  --------  --------------------------------------  ----------------  --------",
        "  UP        web1 OK - Packet loss = 0%, RTA = 0.80  Tue Nov 14 22:11    1m 40s",
        "  DOWN      db1 ICAL - Host Unreachable (10.0.0.7)  Tue Nov 14 20:13     2h 0m",
        "  UP        mail                                OK  Mon Nov 13 21:13     1d 1h",
        "            odd                      strange state  Tue Nov 14 22:12    0m 59s",
        "", "", "", "", "", "", "", "", "",
        "  Command:",
        "", "",
    };
    EXPECT_EQ(screen, expected);

    const std::string dir0 = second_dir(dir);
    tty t0 = start(dir0, {"-m", "h", "-p", "0", "-P", "0"}, 80, 24, "default site_name = Ops\n");
    screen = rows_of(t0);
    EXPECT_EQ(screen[0], "Ops Quelvan v" QUELVAN_VERSION "                  4 Host Objects            Tue Nov 14 22:13:20");
    EXPECT_EQ(screen[1], "Age: any                                                           Sort: by name");
    EXPECT_EQ(screen[4], "Status    Description                  Plugin Output    Last Change     Duration");
    EXPECT_EQ(screen[6], "UP        web1  OK - Packet loss = 0%, RTA = 0.80 ms  Tue Nov 14 22:11    1m 40s");
    EXPECT_EQ(screen[23], "Command:");
}

TEST(ScreenTty, ShortTerminalPagesFewerRows)
{
    const std::string dir = test_dir();
    // 14 lines with pad 1: three item rows on rows 7 to 9.
    tty t = start(dir, {}, 80, 14);
    std::vector<std::string> screen = rows_of(t);
    ASSERT_EQ(screen.size(), 14u);
    EXPECT_EQ(screen[3].substr(screen[3].size() - 11), "page 1 of 2");
    expect_names(screen, {"web1 HTTP", "web1 Load", "db1 Disk /"}, 7, 11);
    EXPECT_EQ(screen[12], " Command:");
}

TEST(ScreenTty, TerminalsTooSmallForTheLayout)
{
    struct row {
        int cols, lines;
        std::vector<std::string> args;
    } rows[] = {{50, 24, {}}, {80, 10, {}}, {20, 6, {}}, {38, 11, {"-p", "0"}},
                {80, 24, {"-p", "30"}}, {80, 24, {"-p", "-4", "-P", "-9"}}};
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << r.cols << "x" << r.lines);
        const std::string dir = test_dir();
        write_defaults(dir, status_file(NOW, small_site()));
        // The prompt itself may have no place: the debug log tells the redraw's end.
        std::vector<std::string> args = r.args;
        args.push_back("-d");
        tty t = tty_start(dir, args, r.cols, r.lines);
        ASSERT_TRUE(tty_wait_stderr(t, "done with draw_screen()")) << tty_stderr(t);
        std::vector<std::string> screen = rows_of(t);
        EXPECT_EQ(screen.size(), static_cast<size_t>(r.lines));
        for (const auto &line : screen)
            EXPECT_LE(line.size(), static_cast<size_t>(r.cols)) << line;
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0);
    }

    // 50 columns: a name field of 10 columns; headings and rules as wide as fit.
    const std::string dir = test_dir();
    tty t = start(dir, {"-l", "c"}, 50, 24);
    std::vector<std::string> screen = rows_of(t);
    // Where texts meet, the later one wins.
    EXPECT_EQ(screen[1], "   Quelvan v" QUELVAN_VERSION "       2 AlerTue Nov 14 22:13:20");
    EXPECT_EQ(screen[5], " Status PluDescription   Last Change     Duration");
    EXPECT_EQ(screen[6], " --------  ----------  ----------------  --------");
    EXPECT_EQ(screen[7], " CRITICAL  db1 Disk /  Tue Nov 14 22:12    0m 30s");
    EXPECT_EQ(screen[8], " CRITICAL  mail Queue  Tue Nov 14 22:13    0m 10s");
}

TEST(ScreenTty, ColoursOfTheLevelsAndTheBase)
{
    const std::string dir = test_dir();
    tty t = start(dir, {});
    std::vector<int> colours = row_colours(t);
    ASSERT_GE(colours.size(), 24u);
    const int cyan = 36, green = 32, yellow = 33, red = 31;
    for (int r : {0, 1, 2, 3, 4, 5, 6, 13, 20, 22, 23})
        EXPECT_EQ(colours[r], cyan) << r;
    // HTTP OKAY, Load WARNING, Disk CRITICAL, Temp UNKNOWN, SMTP OKAY, Queue CRITICAL.
    const int levels[] = {green, yellow, red, yellow, green, red};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(colours[7 + i], levels[i]) << 7 + i;
    // The item's colour covers the whole row, the background is black throughout.
    EXPECT_NE(tty_screen(t, true).find("40m"), std::string::npos);

    const std::string dir_b = second_dir(dir);
    tty b = start(dir_b, {"-b"});
    std::string plain = tty_screen(b, true);
    EXPECT_EQ(plain.find("\x1b["), std::string::npos) << plain;
    EXPECT_EQ(rows_of(b), rows_of(t));  // the same layout without colour
}

TEST(ScreenTty, Utf8NamesAndOutputsKeepTheColumns)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(NOW, service_stanza("küche", "Temperatur Gehäuse", 1,
                                                        "WARNING – 31,5 °C über Grenze",
                                                        NOW - 100) +
                                             service_stanza("東京", "応答", 2, "接続できません",
                                                            NOW - 100)));
    tty t = tty_start(dir, {}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    std::vector<std::string> screen = rows_of(t);
    EXPECT_EQ(screen[7], " WARNING   küche Temperatur Gehäuse  °C über Grenze  Tue Nov 14 22:11    1m 40s");
    EXPECT_EQ(screen[8], " CRITICAL  東京 応答                 接続できません  Tue Nov 14 22:11    1m 40s");
}

// The real status file of a Nagios 4 daemon, UTF-8 service names included:
// every item row keeps its change text in columns 52 to 78.
TEST(ScreenTty, RealStatusFileKeepsEveryColumn)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"-l", "w"}, {"-l", "w", "-s", "a"}, {"-m", "h"},
          {"-g", "/Geh/"}}) {
        const std::string dir = test_dir();
        write_defaults(dir, read_file(real_status_path()));
        tty t = tty_start(dir, args, 80, 24);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        std::vector<std::string> screen = rows_of(t);
        int items = 0;
        for (int r = 7; r <= 19; r++) {
            if (screen[r].empty())
                continue;
            items++;
            // Counted in characters (the file's are all one column wide), the
            // row ends at column 78, and the change text follows a blank.
            size_t chars = 0;
            for (unsigned char c : screen[r])
                chars += (c & 0xC0) != 0x80;
            EXPECT_EQ(chars, 79u) << screen[r];
            EXPECT_EQ(screen[r].substr(screen[r].size() - 28, 2), "  ") << screen[r];
        }
        EXPECT_GT(items, 0) << tty_screen(t);
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0);
    }
}

TEST(ScreenTty, ResizeRedrawsAtTheNewSize)
{
    const std::string dir = test_dir();
    tty t = start(dir, {"-l", "c"});
    tty_resize(t, 100, 30);
    ASSERT_TRUE(tty_wait_row(t, 28, " Command:")) << tty_screen(t);
    std::vector<std::string> screen = rows_of(t);
    EXPECT_EQ(screen[7], " CRITICAL  db1 Disk /                  DISK CRITICAL - free space: / 3%  Tue Nov 14 22:12    0m 30s");
    EXPECT_EQ(screen[1].substr(screen[1].size() - 19), "Tue Nov 14 22:13:20");
    EXPECT_EQ(screen[1].size(), 100u - 2);

    tty_resize(t, 40, 12);
    ASSERT_TRUE(tty_wait_row(t, 10, " Command:")) << tty_screen(t);
    screen = rows_of(t);
    for (const auto &line : screen)
        EXPECT_LE(line.size(), 40u) << line;
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// One write(2) of the console to its terminal, as strace noted it.
struct terminal_write {
    double at;         // seconds
    std::string text;  // strace's escaped form: ESC reads "\33"
};

// The console's writes to its terminal, from a trace written by
// "strace -ttt -e trace=write".
std::vector<terminal_write> terminal_writes(const std::string &trace)
{
    std::vector<terminal_write> writes;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t open = line.find(" write(1, \"");
        const size_t close = line.rfind("\", ");
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        writes.push_back({std::stod(line.substr(0, open)),
                          line.substr(open + 11, close - open - 11)});
    }
    return writes;
}

// A redraw that asks for a swipe first shows a blank frame: the clear is
// sent alone, and the paint follows no sooner than 50 ms later. A redraw
// without one is a single frame, clear and paint together.
TEST(ScreenTty, SwipeSendsABlankFrameBeforeThePaint)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(NOW, small_site()));
    const std::string trace = dir + "/trace.txt";
    // LeakSanitizer cannot work under ptrace: in the sanitizer build this one
    // run goes without it (every other run of the binary keeps it).
    std::string cmd = "cd " + harness_quote(dir) + " && exec env HOME=" + harness_quote(dir) +
                      " TZ=UTC LANG=C.UTF-8 " + harness_no_leaks_env() +
                      " strace -o " + harness_quote(trace) +
                      " -ttt -e trace=write -e signal=none -s 1000000 " +
                      harness_quote(QUELVAN_BINARY) + " -b -i 0 2>" +
                      harness_quote(dir + "/stderr.txt");
    tty t;
    tty_launch(t, "quelvan-test", dir, cmd, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t) << read_file(trace);
    // "s" asks for a swipe; "z" only beeps, and its redraw asks for none.
    tty_type(t, "s");
    ASSERT_TRUE(tty_wait(t, "Sort: by age")) << tty_screen(t);
    tty_type(t, "z");
    ASSERT_TRUE(harness_poll([&] { return read_file(trace).find("\\7") != std::string::npos; }));
    tty_type(t, "q");
    ASSERT_EQ(tty_wait_exit(t), 0);

    const std::string clear = "\\33[H\\33[J";  // clear_screen of TERM=screen
    const std::string bottom = "\\33[24d";      // to row 24, the blank frame's cursor
    const std::vector<terminal_write> writes = terminal_writes(read_file(trace));
    auto first = [&](size_t from, const std::string &text) {
        while (from < writes.size() && writes[from].text.find(text) == std::string::npos)
            from++;
        return from;
    };
    // What the writes from..to-1 sent, and whether any of it was text.
    auto between = [&](size_t from, size_t to) {
        std::string sent;
        for (size_t i = from; i < to; i++)
            sent += writes[i].text;
        return sent;
    };
    auto only_controls = [](const std::string &sent) {
        for (size_t i = 0; i < sent.size(); i++) {
            if (sent.compare(i, 4, "\\33[") == 0) {  // an escape sequence up to its letter
                i += 4;
                while (i < sent.size() && !isalpha(static_cast<unsigned char>(sent[i])))
                    i++;
            } else if (sent.compare(i, 2, "\\r") == 0) {
                i++;
            } else {
                return false;
            }
        }
        return true;
    };

    const size_t message = first(0, "sort by age");
    const size_t paint = first(message, "Quelvan");
    ASSERT_LT(paint, writes.size()) << read_file(trace);
    const size_t blank = message + 1;
    ASSERT_LT(blank, paint) << read_file(trace);
    const std::string frame = between(blank, paint);
    EXPECT_EQ(frame.find(clear), 0u) << frame;
    EXPECT_NE(frame.find(bottom), std::string::npos) << frame;
    EXPECT_TRUE(only_controls(frame)) << frame;
    EXPECT_GE(writes[paint].at - writes[blank].at, 0.050)
        << writes[blank].at << " -> " << writes[paint].at;

    // The redraw after the beep: the clear and the paint, no blank frame.
    const size_t bell = first(paint, "\\7");
    const size_t repaint = first(bell, "Quelvan");
    ASSERT_LT(repaint, writes.size()) << read_file(trace);
    const std::string direct = between(bell + 1, repaint);
    EXPECT_EQ(direct.find(clear), 0u) << direct;
    EXPECT_EQ(direct.find(bottom), std::string::npos) << direct;
}

}  // namespace
