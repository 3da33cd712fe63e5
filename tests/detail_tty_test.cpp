// SPDX-License-Identifier: GPL-2.0-or-later
// The cursor of the list and the detail screen in a real terminal: where the
// cursor goes and whom it follows after a re-read, the record of one object
// as the sample file gives it, hostile records, and the actions that write
// one command line to the daemon's pipe (a FIFO that the test reads itself).
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "keys_tty.h"

namespace {

const long CREATED = 1700000000;
const std::string REVERSE = "\x1b[7m";
// The first item row with the default pad on 24 rows.
const int FIRST_ROW = 7;

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// The rows shown in reverse video (-1 entries never: only rows that have it).
std::vector<int> reverse_rows(const tty &t)
{
    std::vector<int> rows;
    std::vector<std::string> l = lines_of(tty_screen(t, true));
    for (size_t i = 0; i < l.size(); i++)
        if (l[i].find(REVERSE) != std::string::npos)
            rows.push_back(static_cast<int>(i));
    return rows;
}

bool wait_cursor(const tty &t, int row)
{
    return harness_poll([&] { return reverse_rows(t) == std::vector<int>{row}; });
}

bool shows(const tty &t, const std::string &text)
{
    return tty_screen(t).find(text) != std::string::npos;
}

// Presses keys and waits until what they did has been drawn (the beep of
// "z" follows it).
void press(const tty &t, pane_log &log, const std::vector<std::string> &keys)
{
    std::string sent = keys_then_beep(t, log, keys);
    ASSERT_NE(sent, "(no beep after the keys)") << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
}

std::string numbered(const std::string &prefix, int from, int to, int state = 0)
{
    std::string s;
    for (int i = from; i <= to; i++) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%02d", prefix.c_str(), i);
        s += service_stanza("host", name, state, std::string("output ") + name, CREATED - 60);
    }
    return s;
}

// --- the cursor ---

TEST(Cursor, NoneBeforeTheFirstKeyThenOnTheFirstItemRow)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, numbered("svc", 1, 5)));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "host svc05")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    const std::string before = tty_screen(t);
    EXPECT_EQ(tty_screen(t, true).find(REVERSE), std::string::npos) << tty_screen(t, true);
    for (const char *key : {"j", "Down"}) {
        SCOPED_TRACE(key);
        const std::string dir2 = test_dir();
        write_defaults(dir2, status_file(CREATED, numbered("svc", 1, 5)));
        tty t2 = tty_start(dir2, {"-i", "0"});
        ASSERT_TRUE(tty_wait(t2, "host svc05")) << tty_screen(t2);
        tty_keys(t2, {key});
        ASSERT_TRUE(wait_cursor(t2, FIRST_ROW)) << tty_screen(t2, true);
        // The texts stay as they were: only the attribute is new.
        EXPECT_EQ(tty_screen(t2), before);
        tty_type(t2, "q");
        EXPECT_EQ(tty_wait_exit(t2), 0);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Cursor, StepsOverPageEdgesAndStopsAtTheEnds)
{
    const std::string dir = test_dir();
    // 30 services: pages of 13, 13 and 4.
    write_defaults(dir, status_file(CREATED, numbered("svc", 1, 30, 1)));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "page 1 of 3")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    struct step {
        std::vector<std::string> keys;
        const char *page;
        int row;           // on the screen
        const char *item;  // on that row
    };
    const std::vector<std::string> twelve_down(12, "j");
    const step steps[] = {
        {{"k"}, "page 1 of 3", FIRST_ROW, "svc01"},  // the first key shows it
        {{"k"}, "page 1 of 3", FIRST_ROW, "svc01"},  // first item: nothing
        {twelve_down, "page 1 of 3", FIRST_ROW + 12, "svc13"},
        {{"Down"}, "page 2 of 3", FIRST_ROW, "svc14"},
        {{"Up"}, "page 1 of 3", FIRST_ROW + 12, "svc13"},
        {{"NPage"}, "page 2 of 3", FIRST_ROW, "svc14"},
        {{"j", "j"}, "page 2 of 3", FIRST_ROW + 2, "svc16"},
        {{"End"}, "page 3 of 3", FIRST_ROW, "svc27"},
        {{"j", "j", "j"}, "page 3 of 3", FIRST_ROW + 3, "svc30"},
        {{"j"}, "page 3 of 3", FIRST_ROW + 3, "svc30"},  // last item: nothing
        {{"PPage"}, "page 2 of 3", FIRST_ROW, "svc14"},
        {{"j", "Home"}, "page 1 of 3", FIRST_ROW, "svc01"},
        {{"j", "Space"}, "page 2 of 3", FIRST_ROW, "svc14"},
        {{"j", "c"}, "page 0 of 0", -1, ""},  // no CRITICAL: an empty page
        {{"j", "w"}, "page 1 of 3", FIRST_ROW, "svc01"},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.keys.back() + " " + s.page + " " + s.item);
        const std::string screen_before = tty_screen(t, true);
        press(t, log, s.keys);
        ASSERT_TRUE(tty_wait(t, s.page)) << tty_screen(t);
        if (s.row < 0) {
            EXPECT_TRUE(harness_poll([&] { return reverse_rows(t).empty(); }))
                << tty_screen(t, true);
            continue;
        }
        ASSERT_TRUE(wait_cursor(t, s.row)) << tty_screen(t, true);
        EXPECT_NE(tty_row(t, s.row).find(s.item), std::string::npos) << tty_screen(t);
    }
    // A filter puts it on the first row of what passes.
    tty_keys(t, {"j", "j"});
    tty_type(t, "/");
    tty_type(t, "svc2");
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "10 match the filter")) << tty_screen(t);
    ASSERT_TRUE(wait_cursor(t, FIRST_ROW)) << tty_screen(t, true);
    EXPECT_NE(tty_row(t, FIRST_ROW).find("svc20"), std::string::npos) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// After a re-read, by "r" or by the timer.
struct follow_case {
    const char *name;
    bool timer;
};

// Failures name the case, not its bytes.
void PrintTo(const follow_case &c, std::ostream *os) { *os << c.name; }

class CursorFollows : public testing::TestWithParam<follow_case> {};

TEST_P(CursorFollows, TheSameObjectOrTheRowWhereItWas)
{
    const follow_case &c = GetParam();
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, numbered("svc", 10, 30, 1)));
    tty t = tty_start(dir, {"-i", c.timer ? "1" : "0"});
    ASSERT_TRUE(tty_wait(t, "page 1 of 2")) << tty_screen(t);
    auto reread = [&](long created, const std::string &stanzas, const std::string &shown) {
        write_file(status_path(dir), status_file(created, stanzas));
        if (!c.timer)
            tty_type(t, "r");
        ASSERT_TRUE(tty_wait(t, shown)) << tty_screen(t);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    };
    // On svc14, the fifth row of page 1.
    tty_keys(t, {"j", "j", "j", "j", "j"});
    ASSERT_TRUE(wait_cursor(t, FIRST_ROW + 4)) << tty_screen(t, true);
    ASSERT_NE(tty_row(t, FIRST_ROW + 4).find("svc14"), std::string::npos) << tty_screen(t);

    // Nine services before it: svc14 is now the first row of page 2.
    ASSERT_NO_FATAL_FAILURE(reread(CREATED + 10, numbered("svc", 1, 30, 1), "page 2 of 3"));
    ASSERT_TRUE(wait_cursor(t, FIRST_ROW)) << tty_screen(t, true);
    EXPECT_NE(tty_row(t, FIRST_ROW).find("svc14"), std::string::npos) << tty_screen(t);

    // svc14 gone: the cursor stays on its row, now svc15's.
    ASSERT_NO_FATAL_FAILURE(reread(CREATED + 20, numbered("svc", 1, 13, 1) +
                                                     numbered("svc", 15, 30, 1),
                                   "22:13:40"));
    EXPECT_TRUE(wait_cursor(t, FIRST_ROW)) << tty_screen(t, true);
    EXPECT_NE(tty_row(t, FIRST_ROW).find("svc15"), std::string::npos) << tty_screen(t);

    // On the last row of page 3 (svc30); that row gone: the nearest row left.
    tty_keys(t, {"End"});
    ASSERT_TRUE(tty_wait(t, "page 3 of 3")) << tty_screen(t);
    tty_keys(t, {"j", "j", "j"});
    ASSERT_TRUE(wait_cursor(t, FIRST_ROW + 2)) << tty_screen(t, true);
    ASSERT_NE(tty_row(t, FIRST_ROW + 2).find("svc30"), std::string::npos) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(reread(CREATED + 30, numbered("svc", 1, 13, 1) +
                                                     numbered("svc", 15, 29, 1),
                                   "22:13:50"));
    EXPECT_TRUE(wait_cursor(t, FIRST_ROW + 1)) << tty_screen(t, true);
    EXPECT_NE(tty_row(t, FIRST_ROW + 1).find("svc29"), std::string::npos) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

INSTANTIATE_TEST_SUITE_P(ReRead, CursorFollows,
                         testing::Values(follow_case{"r_key", false},
                                         follow_case{"timer", true}),
                         [](const testing::TestParamInfo<follow_case> &i) {
                             return std::string(i.param.name);
                         });

TEST(Cursor, AnEmptyPageHasNoCursorAndEnterBeeps)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, numbered("svc", 1, 3)));
    tty t = tty_start(dir, {"-i", "0", "-l", "c"});
    ASSERT_TRUE(tty_wait(t, "0 Alerts")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    const std::string before = tty_screen(t);
    log.mark();
    tty_keys(t, {"j", "Enter"});
    ASSERT_TRUE(log.wait("\a")) << printable(log.since());
    tty_keys(t, {"Down"});
    press(t, log, {});
    EXPECT_TRUE(reverse_rows(t).empty()) << tty_screen(t, true);
    EXPECT_EQ(tty_screen(t), before);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// --- the detail screen on the sample file ---

// Opens the detail screen of the only item that passes filter in the view of
// mode_key ("u" hosts, "o" services).
void open_detail(const tty &t, const char *mode_key, const std::string &filter)
{
    tty_type(t, mode_key);
    tty_type(t, "/");
    tty_type(t, filter);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "1 matches the filter")) << tty_screen(t);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " Detail ")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
}

tty start_sample(const std::string &dir, int rows = 24, const std::vector<std::string> &more = {})
{
    write_defaults(dir, read_file(real_status_path()));
    std::vector<std::string> args = {"-i", "0"};
    args.insert(args.end(), more.begin(), more.end());
    return tty_start(dir, args, 80, rows);
}

struct record_case {
    const char *name;
    const char *mode_key;
    const char *filter;
    std::vector<std::string> shown;   // each on the screen
    std::vector<std::string> absent;  // none on the screen
};

// Failures name the case, not its bytes.
void PrintTo(const record_case &c, std::ostream *os) { *os << c.name; }

class DetailRecord : public testing::TestWithParam<record_case> {};

// On a terminal tall enough for the whole record.
TEST_P(DetailRecord, ShowsTheObjectsRecord)
{
    const record_case &c = GetParam();
    const std::string dir = test_dir();
    tty t = start_sample(dir, 100);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(open_detail(t, c.mode_key, c.filter));
    for (const auto &s : c.shown)
        EXPECT_TRUE(shows(t, s)) << s << "\n" << tty_screen(t);
    for (const auto &s : c.absent)
        EXPECT_FALSE(shows(t, s)) << s << "\n" << tty_screen(t);
    tty_type(t, "q");
    ASSERT_TRUE(tty_wait(t, "Plugin Output")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sample, DetailRecord,
    testing::Values(
        record_case{"service_long_output_and_metrics", "o", "web-01 HTTP",
                    {"Service Detail", "State           WARNING (HARD, attempt 2/2)",
                     "Backslash test: C:\\Temp\\new and a literal \\n in text",
                     "Server: Apache/2.4.62 (Debian)", "Größe: 412 Bytes", "Performance data",
                     "time  0.004177s 1.0  2.0  0.0", "size  412B"},
                    {"C:\\\\Temp", "rows "}},
        record_case{"host_with_thirty_output_lines", "u", "backup-04",
                    {"Host Detail", "UP (HARD, attempt 1/2)", "volume vol001: state=degraded",
                     "volume vol030: ", "unhealthy", "total"},
                    {"volume vol031"}},
        record_case{"acknowledged_service", "o", "web-03 Processes",
                    {"CRITICAL (HARD, attempt 2/2)", "admin", "Known issue, vendor case opened"},
                    {}},
        record_case{"host_in_downtime", "u", "mail-03 ",
                    {"DOWN (HARD, attempt 2/2)",
                     "In downtime     by admin, Wed Dec  9 21:29 to Wed Dec  9 23:29"},
                    {}}),
    [](const testing::TestParamInfo<record_case> &i) { return std::string(i.param.name); });

TEST(Detail, PerformanceDataOfTheHostAsATable)
{
    const std::string dir = test_dir();
    tty t = start_sample(dir, 100);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(open_detail(t, "u", "backup-04"));
    std::string unhealthy, total;
    for (const std::string &l : lines_of(tty_screen(t))) {
        if (l.rfind("   unhealthy ", 0) == 0)
            unhealthy = l;
        if (l.rfind("   total ", 0) == 0)
            total = l;
    }
    // unhealthy=48;1;10;0;120 total=120
    std::istringstream u(unhealthy);
    std::vector<std::string> fields;
    for (std::string f; fields.size() < 6 && u >> f;)
        fields.push_back(f);
    EXPECT_EQ(fields, (std::vector<std::string>{"unhealthy", "48", "1", "10", "0", "120"}))
        << tty_screen(t);
    EXPECT_NE(total.find("120"), std::string::npos) << tty_screen(t);
    tty_type(t, "q");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Detail, ScrollsWithItsPositionAtTheTopRight)
{
    const std::string dir = test_dir();
    tty t = start_sample(dir);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(open_detail(t, "u", "backup-04"));
    ASSERT_TRUE(tty_wait_in_row(t, 2, "rows 1-16 of 64")) << tty_screen(t);
    struct step {
        std::vector<std::string> keys;
        const char *where;
    };
    const step steps[] = {
        {{"j"}, "rows 2-17 of 64"},     {{"Down", "Down"}, "rows 4-19 of 64"},
        {{"k"}, "rows 3-18 of 64"},     {{"Up", "Up", "Up"}, "rows 1-16 of 64"},
        {{"NPage"}, "rows 17-32 of 64"}, {{"Space"}, "rows 33-48 of 64"},
        {{"Space"}, "rows 49-64 of 64"}, {{"j"}, "rows 49-64 of 64"},
        {{"PPage"}, "rows 33-48 of 64"}, {{"PPage", "PPage", "k"}, "rows 1-16 of 64"},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.keys[0] + " " + s.where);
        tty_keys(t, s.keys);
        EXPECT_TRUE(tty_wait_in_row(t, 2, s.where)) << tty_screen(t);
    }
    EXPECT_TRUE(shows(t, "Host            backup-04")) << tty_screen(t);
    tty_type(t, "q");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

class DetailLeave : public testing::TestWithParam<const char *> {};

// Back to the list with the cursor on the object, on whichever page it is.
TEST_P(DetailLeave, BackToTheListWithTheCursorOnTheObject)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, numbered("svc", 1, 20, 1)));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "page 1 of 2")) << tty_screen(t);
    tty_keys(t, {"NPage"});
    ASSERT_TRUE(tty_wait(t, "page 2 of 2")) << tty_screen(t);
    tty_keys(t, {"j", "j", "j"});
    ASSERT_TRUE(wait_cursor(t, FIRST_ROW + 2)) << tty_screen(t, true);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "output svc16")) << tty_screen(t);
    // "q" here goes back; it does not end the program.
    tty_keys(t, {GetParam()});
    ASSERT_TRUE(tty_wait(t, "page 2 of 2")) << tty_screen(t);
    EXPECT_TRUE(wait_cursor(t, FIRST_ROW + 2)) << tty_screen(t, true);
    EXPECT_NE(tty_row(t, FIRST_ROW + 2).find("svc16"), std::string::npos) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

INSTANTIATE_TEST_SUITE_P(Keys, DetailLeave,
                         testing::Values("q", "Escape", "Left", "Enter", "BSpace"),
                         [](const testing::TestParamInfo<const char *> &i) {
                             return std::string(i.param);
                         });

TEST(Detail, EnterWithoutACursorOpensTheFirstItem)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, numbered("svc", 1, 3, 2)));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "host svc03")) << tty_screen(t);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "output svc01")) << tty_screen(t);
    tty_keys(t, {"Left"});
    EXPECT_TRUE(wait_cursor(t, FIRST_ROW)) << tty_screen(t, true);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Detail, RedrawnByTheTimerAndGoneFromTheFile)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, numbered("svc", 1, 3, 2)));
    tty t = tty_start(dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "host svc03")) << tty_screen(t);
    tty_keys(t, {"j", "j", "Enter"});
    ASSERT_TRUE(tty_wait(t, "output svc02")) << tty_screen(t);
    write_file(status_path(dir),
               status_file(CREATED + 10, numbered("svc", 1, 1, 2) +
                                             service_stanza("host", "svc02", 1, "changed now",
                                                            CREATED) +
                                             numbered("svc", 3, 3, 2)));
    ASSERT_TRUE(tty_wait(t, "changed now")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "Service Detail")) << tty_screen(t);
    EXPECT_FALSE(shows(t, "output svc02")) << tty_screen(t);
    write_file(status_path(dir),
               status_file(CREATED + 20, numbered("svc", 1, 1, 2) + numbered("svc", 3, 3, 2)));
    ASSERT_TRUE(tty_wait(t, "no longer in the status file")) << tty_screen(t);
    // Back on the list: the cursor on the row where it was.
    tty_type(t, "q");
    ASSERT_TRUE(tty_wait(t, "Plugin Output")) << tty_screen(t);
    EXPECT_TRUE(wait_cursor(t, FIRST_ROW + 1)) << tty_screen(t, true);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// Terminal controls, invalid UTF-8 and huge texts in a record.
TEST(Detail, HostileRecordsAreShownHarmlessly)
{
    const std::string dir = test_dir();
    const std::string hostile_output =
        "title\x1b]0;owned\x07 clear\x1b[2J bad\xff\xfe end";
    std::string long_output;
    while (long_output.size() < 64 * 1024)
        long_output += "line\x1b[31m red \\n";
    std::string perf;
    for (int i = 0; i < 100000; i++)
        // Appended piece by piece: gcc 12 -O3 misreads the sum (-Wrestrict).
        perf.append("m").append(std::to_string(i)).append("=").append(std::to_string(i)).append(";1;2;0;9 ");
    const std::string long_name(1023, 'h');
    std::string svc = service_stanza("evil", "Esc", 2, hostile_output, CREATED - 60);
    svc.insert(svc.find("\tlong_plugin_output=") + 20, long_output);
    svc.insert(svc.find("\tperformance_data=") + 18, perf);
    write_defaults(dir, status_file(CREATED, svc + service_stanza(long_name, "Long", 2,
                                                                   "long name", CREATED - 60)));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    for (int row = 0; row < 2; row++) {
        SCOPED_TRACE(row);
        if (row == 1)
            tty_keys(t, {"j"});
        tty_keys(t, {"Enter"});
        ASSERT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
        ASSERT_NO_FATAL_FAILURE(press(t, log, {"NPage", "End", "k", "Home"}));
        const std::string plain = tty_screen(t);
        EXPECT_EQ(plain.find('\x1b'), std::string::npos);
        EXPECT_EQ(plain.find('\a'), std::string::npos);
        if (row == 0) {
            EXPECT_NE(plain.find("title?]0;owned? clear?[2J bad"), std::string::npos) << plain;
            EXPECT_NE(plain.find("line?[31m red"), std::string::npos) << plain;
        } else {
            EXPECT_NE(plain.find("hhhhhhhh"), std::string::npos) << plain;
        }
        // In colour, only colour and reverse attributes: no other sequence.
        const std::string coloured = tty_screen(t, true);
        for (size_t at = coloured.find('\x1b'); at != std::string::npos;
             at = coloured.find('\x1b', at + 1)) {
            ASSERT_EQ(coloured[at + 1], '[') << printable(coloured.substr(at, 20));
            size_t end = coloured.find_first_not_of("0123456789;", at + 2);
            ASSERT_NE(end, std::string::npos);
            EXPECT_EQ(coloured[end], 'm') << printable(coloured.substr(at, 20));
        }
        tty_keys(t, {"Escape"});
        ASSERT_TRUE(tty_wait(t, "Plugin Output")) << tty_screen(t);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Detail, ATinyTerminal)
{
    const std::string dir = test_dir();
    write_defaults(dir, read_file(real_status_path()));
    tty t = tty_start(dir, {"-i", "0"}, 20, 6);
    harness_pause(500);
    tty_keys(t, {"j", "Enter"});
    ASSERT_TRUE(tty_wait(t, "Servi")) << tty_screen(t);
    tty_keys(t, {"j", "NPage", "Space", "End", "PPage", "k", "Home", "q"});
    tty_keys(t, {"j", "Enter", "Left"});
    tty_resize(t, 12, 3);
    tty_keys(t, {"Enter", "j"});
    tty_resize(t, 20, 6);
    tty_keys(t, {"BSpace"});
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0) << tty_screen(t);
}

// --- actions ---

std::string action_file(long created)
{
    std::string crit = service_stanza("web", "HTTP", 2, "HTTP CRITICAL", created - 60);
    crit.insert(crit.find("\t}"), "\tnotifications_enabled=1\n");
    return status_file(created, crit + service_stanza("web", "Disk", 0, "DISK OK", created - 60));
}

TEST(Actions, WithoutACommandFileNothingIsWritten)
{
    const std::string dir = test_dir();
    write_defaults(dir, action_file(CREATED));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "web HTTP")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    // Every file but the test's own log of the pane, with its size and time.
    const std::string list = "cd " + harness_quote(dir) +
                             " && find . ! -name pane.log -printf '%p %s %T@\\n' | sort";
    const std::string files = harness_sh(list);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
    log.mark();
    tty_type(t, "a");
    ASSERT_TRUE(log.wait("no command file (default command_file in quelvanrc)"))
        << printable(log.since());
    EXPECT_TRUE(log.wait("\a")) << printable(log.since());
    EXPECT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
    EXPECT_FALSE(shows(t, "Comment:")) << tty_screen(t);
    tty_type(t, "q");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(harness_sh(list), files);
}

struct action_case {
    const char *name;
    const char *service;              // the row opened: "HTTP" or "Disk"
    std::vector<std::string> typed;   // keys, then each answer typed and Enter
    const char *message;              // the answer on the command row
    // The line written with its time T: "" for none. "{T}" stands for the
    // time, "{T+7200}" for two hours later, "{U}" for the login name.
    const char *line;
};

// Failures name the case, not its bytes.
void PrintTo(const action_case &c, std::ostream *os) { *os << c.name; }

class Actions : public testing::TestWithParam<action_case> {};

std::string expand(std::string s, long long t, const std::string &user)
{
    auto put = [&](const std::string &key, const std::string &value) {
        for (size_t at; (at = s.find(key)) != std::string::npos;)
            s.replace(at, key.size(), value);
    };
    put("{T+7200}", std::to_string(t + 7200));
    put("{T}", std::to_string(t));
    put("{U}", user);
    return s;
}

TEST_P(Actions, WriteOneWholeLineOrNothing)
{
    const action_case &c = GetParam();
    const std::string dir = test_dir();
    write_defaults(dir, action_file(CREATED));
    fifo_reader fifo(dir + "/nagios.cmd");
    ASSERT_GE(fifo.fd, 0) << strerror(errno);
    write_file(system_rc_path_in(dir), "default command_file = " + fifo.path + "\n");
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "web Disk")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    // The first cursor key shows the cursor on HTTP, the second moves it to Disk.
    if (std::string(c.service) == "Disk")
        tty_keys(t, {"j", "j"});
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, std::string("Service         web ") + c.service)) << tty_screen(t);
    log.mark();
    const long long before = time(nullptr);
    tty_type(t, c.typed[0]);
    for (size_t i = 1; i < c.typed.size(); i++) {
        // On the screen: curses writes only what differs from "Command: ".
        ASSERT_TRUE(tty_wait_row(t, tty_command_row(24),
                                 i == 1 && c.typed[0] == "D" ? " Downtime:" : " Comment:"))
            << tty_screen(t);
        log.mark();
        if (!c.typed[i].empty())
            tty_type(t, c.typed[i]);
        tty_keys(t, {"Enter"});
    }
    if (*c.message) {
        EXPECT_TRUE(log.wait(c.message)) << printable(log.since());
    }
    // Done once the detail screen is back with a bare command row.
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " Command:")) << tty_screen(t);
    const long long after = time(nullptr);
    const std::string got = fifo.read_all();
    if (!*c.line) {
        EXPECT_EQ(got, "");
    } else {
        long long stamp = 0;
        ASSERT_EQ(std::sscanf(got.c_str(), "[%lld]", &stamp), 1) << got;
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        EXPECT_EQ(got, expand(c.line, stamp, harness_sh("id -un | tr -d '\\n'")));
    }
    EXPECT_TRUE(shows(t, "Service Detail")) << tty_screen(t);
    tty_type(t, "q");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fifo, Actions,
    testing::Values(
        action_case{"check_now", "HTTP", {"c"}, "check scheduled",
                    "[{T}] SCHEDULE_FORCED_SVC_CHECK;web;HTTP;{T}\n"},
        action_case{"acknowledge", "HTTP", {"a", "on it, ticket 7"}, "acknowledged",
                    "[{T}] ACKNOWLEDGE_SVC_PROBLEM;web;HTTP;2;1;1;{U};on it, ticket 7\n"},
        action_case{"acknowledge_empty_comment", "HTTP", {"a", ""}, "", ""},
        action_case{"acknowledge_okay_refused", "Disk", {"a"},
                    "the service is OKAY: nothing to acknowledge", ""},
        action_case{"remove_acknowledgement", "HTTP", {"u"}, "acknowledgement removed",
                    "[{T}] REMOVE_SVC_ACKNOWLEDGEMENT;web;HTTP\n"},
        action_case{"downtime_two_hours", "HTTP", {"D", "2h", "new disk"}, "downtime until",
                    "[{T}] SCHEDULE_SVC_DOWNTIME;web;HTTP;{T};{T+7200};1;0;7200;{U};new disk\n"},
        // The prompt and the answer stand on the row already: curses sends
        // only the complaint.
        action_case{"downtime_syntax_error", "HTTP", {"D", "abc"}, ": syntax error!", ""},
        action_case{"notifications_off", "HTTP", {"n"}, "notifications disabled",
                    "[{T}] DISABLE_SVC_NOTIFICATIONS;web;HTTP\n"}),
    [](const testing::TestParamInfo<action_case> &i) { return std::string(i.param.name); });

TEST(Actions, ARegularFileIsNeverWritten)
{
    const std::string dir = test_dir();
    write_defaults(dir, action_file(CREATED));
    const std::string file = dir + "/not-a-pipe";
    write_file(file, "keep\n");
    write_file(system_rc_path_in(dir), "default command_file = " + file + "\n");
    // Wide enough for the message with the test directory's whole path in it.
    tty t = tty_start(dir, {"-i", "0"}, 250, 24);
    ASSERT_TRUE(tty_wait(t, "web HTTP")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
    log.mark();
    tty_type(t, "c");
    EXPECT_TRUE(log.wait("is a regular file, not the daemon's command pipe"))
        << printable(log.since());
    EXPECT_TRUE(log.wait("\a")) << printable(log.since());
    EXPECT_EQ(read_file(file), "keep\n");
    tty_type(t, "q");
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

}  // namespace
