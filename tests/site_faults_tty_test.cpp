// SPDX-License-Identifier: GPL-2.0-or-later
// A Livestatus site that misbehaves, beside a status-file site, through the
// binary under tmux: the site keeps its last good items marked stale with a
// line giving the reason, the other site and the keyboard go on, the bell
// rings once as it turns bad, and a good read puts everything back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fault_server.h"
#include "harness.h"
#include "keys_tty.h"

namespace {

constexpr long CREATED = 1765400000;  // 2025-12-10 20:53:20 UTC
constexpr long PROGRAM_START = CREATED - 86400;
constexpr int COLS = 100, ROWS = 24;

std::string east_file(long created, const std::string &http = "HTTP OK")
{
    return status_file(created, host_stanza("web1", 0, "PING OK", created - 600) +
                                    service_stanza("web1", "HTTP", 0, http, created - 120) +
                                    service_stanza("db1", "DB", 2, "DB DOWN", created - 60));
}

struct live_object {
    const char *host;
    const char *description;  // empty for a host
    int state;
    const char *output;
};

const live_object LIVE_HOSTS[] = {{"alpha", "", 0, "PING FINE"}, {"beta", "", 1, "PING LOST"}};
const live_object LIVE_SERVICES[] = {{"alpha", "HTTP", 0, "HTTP FINE"},
                                     {"beta", "DISK", 2, "DISK FULL"}};

std::string live_json_text(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// One value of an object by the column's name, as a daemon gives it.
std::string live_value(const live_object &o, const std::string &column)
{
    if (column == "name" || column == "host_name")
        return live_json_text(o.host);
    if (column == "description")
        return live_json_text(o.description);
    if (column == "state")
        return std::to_string(o.state);
    if (column == "plugin_output")
        return live_json_text(o.output);
    if (column == "has_been_checked")
        return "1";
    if (column == "last_state_change")
        return std::to_string(CREATED - 200);
    if (column == "acknowledged" || column == "scheduled_downtime_depth")
        return "0";
    ADD_FAILURE() << "a column the test daemon does not know: " << column;
    return "null";
}

// The value of a request's header line ("Columns: a b" gives "a b").
std::string live_header(const std::string &request, const std::string &key)
{
    const std::string at = "\n" + key + ": ";
    const size_t from = request.find(at);
    if (from == std::string::npos)
        return "";
    const size_t begin = from + at.size();
    return request.substr(begin, request.find('\n', begin) - begin);
}

// Answers GET status, hosts and services with the rows of LIVE_HOSTS and
// LIVE_SERVICES in the columns each request asks for, in their order.
fault_answer live_answer(const std::string &request)
{
    const std::string table = request.substr(4, request.find('\n') - 4);
    std::vector<std::string> columns;
    std::istringstream words(live_header(request, "Columns"));
    for (std::string w; words >> w;)
        columns.push_back(w);
    auto rows = [&](const auto &objects) {
        std::string body = "[";
        for (const live_object &o : objects) {
            body += body.size() > 1 ? ",\n[" : "[";
            for (size_t i = 0; i < columns.size(); i++)
                body.append(i ? "," : "").append(live_value(o, columns[i]));
            body += "]";
        }
        return fault_answer{200, body + "]\n"};
    };
    if (table == "status" && columns == std::vector<std::string>{"program_start"})
        return {200, "[[" + std::to_string(PROGRAM_START) + "]]\n"};
    if (table == "hosts")
        return rows(LIVE_HOSTS);
    if (table == "services")
        return rows(LIVE_SERVICES);
    ADD_FAILURE() << "a request the test daemon does not know: " << request;
    return {404, "no such table\n"};
}

// The status reply's body, whose length the reasons of a cut reply give.
size_t live_status_length()
{
    return live_answer("GET status\nColumns: program_start\n\n").body.size();
}

bool shows(const tty &t, const std::string &text)
{
    return tty_screen(t).find(text) != std::string::npos;
}

std::vector<std::string> screen_rows(const std::string &screen)
{
    std::vector<std::string> rows;
    std::istringstream lines(screen);
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        rows.push_back(line);
    }
    return rows;
}

// A screen drawn whole: each refresh blanks the screen for a moment and
// shows its progress on the command row, which a capture may catch.
std::string screen_whole(const tty &t)
{
    std::string screen;
    harness_poll([&] {
        screen = tty_screen(t);
        const std::vector<std::string> rows = screen_rows(screen);
        const size_t command = static_cast<size_t>(tty_command_row(ROWS));
        return rows.size() > command && rows[1].rfind("   Quelvan v", 0) == 0 &&
               rows[command].rfind(" Command:", 0) == 0 &&
               screen.find(" Status    Description ") != std::string::npos;
    });
    return screen;
}

// The failing line of site live with its reason, the time between as
// HH:MM:SS.
// The row of the failing line of site live (empty when none).
std::string failure_line(const std::string &screen)
{
    std::string line;
    for (const std::string &row : screen_rows(screen))
        if (row.find("site live: ") != std::string::npos)
            line = row;
    return line;
}

void expect_failure_line(const std::string &screen, const std::string &reason)
{
    const std::string line = failure_line(screen);
    const std::string head = "  site live: no answer since ";
    const std::string tail = " (" + reason + ")";
    ASSERT_EQ(line.size(), head.size() + 8 + tail.size()) << screen;
    EXPECT_EQ(line.substr(0, head.size()), head) << line;
    int h = -1, m = -1, s = -1;
    char end = 0;
    EXPECT_EQ(std::sscanf(line.substr(head.size(), 8).c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &end),
              3)
        << line;
    EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60) << line;
    EXPECT_EQ(line.substr(head.size() + 8), tail) << line;
}

// The screen around the sites: the count of both sites' services and the
// status site's items, none of them marked.
void expect_screen_intact(const std::string &screen)
{
    EXPECT_NE(screen.find("4 Service Objects"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" east:web1 HTTP "), std::string::npos) << screen;
    EXPECT_NE(screen.find(" east:db1 DB "), std::string::npos) << screen;
    EXPECT_EQ(screen.find("?east:"), std::string::npos) << screen;
}

// Each named item marked stale (or none), never some alone: by default
// both live services.
void expect_live_marked(const std::string &screen, bool stale,
                        const std::vector<std::string> &names = {"live:alpha HTTP ",
                                                                 "live:beta DISK "})
{
    for (const std::string &name : names) {
        const size_t at = screen.find(name);
        ASSERT_NE(at, std::string::npos) << name << "\n" << screen;
        ASSERT_GT(at, 0u);
        EXPECT_EQ(screen[at - 1], stale ? '?' : ' ') << name << "\n" << screen;
    }
}

// A whole screen with the failing line and its reason, the live items
// marked, the rest as it was.
void expect_failing(const tty &t, const std::string &reason)
{
    const std::string screen = screen_whole(t);
    expect_failure_line(screen, reason);
    expect_live_marked(screen, true);
    expect_screen_intact(screen);
}

// A whole screen without the line, the live items unmarked.
void expect_back(const tty &t)
{
    ASSERT_TRUE(tty_wait_gone(t, "no answer since")) << tty_screen(t);
    std::string screen;
    // A blank moment of a refresh has no line either.
    harness_poll([&] {
        screen = screen_whole(t);
        return screen.find("no answer since") == std::string::npos;
    });
    EXPECT_EQ(screen.find("no answer since"), std::string::npos) << screen;
    expect_live_marked(screen, false);
    expect_screen_intact(screen);
}

// The fault server of a test's directory, answering well.
fault_server live_server(const std::string &dir)
{
    fault_server f = fault_start(dir + "/live.sock");
    fault_set_answer(f, live_answer);
    return f;
}

// The test's directory with east, a status file, and live, the fault
// server's unix socket, in its configuration.
std::string sites_dir(const std::string &extra)
{
    const std::string dir = test_dir();
    write_defaults(dir);
    write_file(dir + "/east.dat", east_file(CREATED));
    write_file(system_rc_path_in(dir), "default site_timeout = 2s\n" + extra +
                                           "site east = status:east.dat\n"
                                           "site live = livestatus:" +
                                           dir + "/live.sock\n");
    return dir;
}

// A test's two sites, the console refreshing every second.
struct two_sites {
    std::string dir;
    fault_server server;
    tty t;
    explicit two_sites(const std::string &extra = "")
        : dir(sites_dir(extra)), server(live_server(dir)),
          t(tty_start(dir, {"-i", "1"}, COLS, ROWS))
    {
    }
};

// Both sites have shown, live without a mark.
void sites_started(const two_sites &s)
{
    ASSERT_TRUE(s.server.state);
    ASSERT_TRUE(tty_wait(s.t, "live:beta DISK")) << tty_screen(s.t);
    const std::string screen = screen_whole(s.t);
    expect_screen_intact(screen);
    expect_live_marked(screen, false);
    EXPECT_EQ(screen.find("no answer since"), std::string::npos) << screen;
}

// The status site is read at each refresh while the other one fails.
void expect_east_refreshes(two_sites &s, const std::string &text)
{
    // Replaced whole, as a daemon does: the console reads it every second.
    write_file(s.dir + "/east.dat.new", east_file(CREATED + 60, text));
    ASSERT_EQ(rename((s.dir + "/east.dat.new").c_str(), (s.dir + "/east.dat").c_str()), 0);
    ASSERT_TRUE(tty_wait(s.t, " " + text + " ")) << tty_screen(s.t);
}

void sites_quit(two_sites &s)
{
    tty_type(s.t, "q");
    EXPECT_EQ(tty_wait_exit(s.t), 0) << tty_screen(s.t);
    EXPECT_EQ(tty_stderr(s.t), "");
}

// A daemon that takes the request and never answers: each read runs out
// of time, the status site is refreshed on time meanwhile and the keys are
// answered.
TEST(SiteFaults, SilentSiteTimesOutWhileTheRestGoesOn)
{
    two_sites s;
    ASSERT_NO_FATAL_FAILURE(sites_started(s));
    const size_t before = fault_requests(s.server).size();
    fault_set_mode(s.server, fault_mode::silent);
    ASSERT_TRUE(fault_wait_requests(s.server, before + 1));
    // A read is under way and the daemon holds it: the console is not held.
    tty_type(s.t, "/");
    ASSERT_TRUE(tty_wait_in_row(s.t, tty_command_row(ROWS), " Filter:")) << tty_screen(s.t);
    tty_type(s.t, "^live:");
    tty_keys(s.t, {"Enter"});
    ASSERT_TRUE(tty_wait(s.t, "2 match the filter")) << tty_screen(s.t);
    ASSERT_TRUE(tty_wait_gone(s.t, "east:web1")) << tty_screen(s.t);
    tty_type(s.t, "x");
    ASSERT_TRUE(tty_wait(s.t, "east:web1")) << tty_screen(s.t);
    ASSERT_NO_FATAL_FAILURE(expect_east_refreshes(s, "HTTP OK meanwhile"));

    ASSERT_TRUE(tty_wait(s.t, "no answer since")) << tty_screen(s.t);
    ASSERT_NO_FATAL_FAILURE(expect_failing(s.t, "timed out"));
    const std::string first = failure_line(screen_whole(s.t));
    // The hosts too: marked, beside the status site's unmarked.
    tty_type(s.t, "u");
    ASSERT_TRUE(tty_wait(s.t, "3 Host Objects")) << tty_screen(s.t);
    {
        const std::string hosts = screen_whole(s.t);
        expect_live_marked(hosts, true, {"live:alpha ", "live:beta "});
        EXPECT_NE(hosts.find(" east:web1 "), std::string::npos) << hosts;
        EXPECT_EQ(hosts.find("?east:"), std::string::npos) << hosts;
    }
    tty_type(s.t, "o");
    ASSERT_TRUE(tty_wait(s.t, "4 Service Objects")) << tty_screen(s.t);

    // Still silent: new reads go on timing out, the rest goes on; the
    // line keeps the time of the first failure.
    const size_t held = fault_requests(s.server).size();
    ASSERT_TRUE(fault_wait_requests(s.server, held + 2));
    // The help screen stays while the read under way runs out of time: the
    // console closes that connection once it has given up on it.
    tty_type(s.t, "h");
    ASSERT_TRUE(tty_wait(s.t, "quelvan help")) << tty_screen(s.t);
    ASSERT_TRUE(harness_poll([&] { return fault_open(s.server) == 0; }));
    harness_pause(300);  // time to draw, were anything drawn
    EXPECT_TRUE(shows(s.t, "quelvan help")) << tty_screen(s.t);
    EXPECT_FALSE(shows(s.t, "live:alpha")) << tty_screen(s.t);
    tty_type(s.t, "h");  // any key ends the help screen
    ASSERT_TRUE(tty_wait(s.t, "live:alpha")) << tty_screen(s.t);
    ASSERT_NO_FATAL_FAILURE(expect_east_refreshes(s, "HTTP OK still"));
    ASSERT_NO_FATAL_FAILURE(expect_failing(s.t, "timed out"));
    EXPECT_EQ(screen_whole(s.t).find("quelvan help"), std::string::npos) << tty_screen(s.t);
    EXPECT_EQ(failure_line(screen_whole(s.t)), first);

    fault_set_mode(s.server, fault_mode::answer);
    ASSERT_NO_FATAL_FAILURE(expect_back(s.t));
    sites_quit(s);
}

struct fault_case {
    const char *name;
    void (*spoil)(fault_server &f);
    std::string reason;
};
void PrintTo(const fault_case &c, std::ostream *os) { *os << c.name; }

const fault_case FAULT_CASES[] = {
    {"CloseMid", [](fault_server &f) { fault_set_mode(f, fault_mode::close_mid); },
     "connection closed after " + std::to_string(live_status_length() / 2) + " of " +
         std::to_string(live_status_length()) + " bytes"},
    {"WrongLengthClose", [](fault_server &f) { fault_set_mode(f, fault_mode::wrong_length_close); },
     "connection closed after " + std::to_string(live_status_length()) + " of " +
         std::to_string(live_status_length() + FAULT_SHORTFALL) + " bytes"},
    {"WrongLengthOpen", [](fault_server &f) { fault_set_mode(f, fault_mode::wrong_length_open); },
     "timed out"},
    {"HostsNotJson",
     [](fault_server &f) {
         fault_set_answer(f, [](const std::string &request) {
             if (request.rfind("GET hosts\n", 0) == 0)
                 return fault_answer{200, "[[\"a\","};
             return live_answer(request);
         });
     },
     "the hosts reply does not parse"},
    {"ServicesOfTooFewColumns",
     [](fault_server &f) {
         fault_set_answer(f, [](const std::string &request) {
             if (request.rfind("GET services\n", 0) == 0)
                 return fault_answer{200, "[[\"alpha\",\"HTTP\"]]\n"};
             return live_answer(request);
         });
     },
     "the services reply has rows of 2 columns, not 8"},
    {"BadHeader", [](fault_server &f) { fault_set_mode(f, fault_mode::bad_header); },
     "the reply's header does not parse"},
    {"TooLarge",
     [](fault_server &f) {
         fault_set_header(f, "200 99999999999\n");
         fault_set_mode(f, fault_mode::bad_header);
     },
     "reply too large: 99999999999 bytes announced"},
    {"Garbage", [](fault_server &f) { fault_set_mode(f, fault_mode::garbage); },
     "the reply's header does not parse"},
    {"Error",
     [](fault_server &f) {
         fault_set_error(f, 452, "Table 'hosts' has no column 'bogus'\n");
         fault_set_mode(f, fault_mode::error);
     },
     "error 452: Table 'hosts' has no column 'bogus'"},
    {"Refused", [](fault_server &f) { fault_set_mode(f, fault_mode::refuse); },
     "connection refused"},
};

class SiteFault : public testing::TestWithParam<fault_case> {};

// Each fault: the line with its reason, the stale marks, the status site
// read on; then a good read takes the line and the marks away.
TEST_P(SiteFault, KeepsTheItemsMarkedUntilAGoodRead)
{
    const fault_case &c = GetParam();
    two_sites s;
    ASSERT_NO_FATAL_FAILURE(sites_started(s));
    c.spoil(s.server);
    // A read under way as the fault begins may fail at a later query: the
    // next read gives the reason of the first.
    ASSERT_TRUE(tty_wait(s.t, "(" + c.reason + ")")) << tty_screen(s.t);
    ASSERT_NO_FATAL_FAILURE(expect_failing(s.t, c.reason));
    ASSERT_NO_FATAL_FAILURE(expect_east_refreshes(s, "HTTP OK meanwhile"));
    ASSERT_NO_FATAL_FAILURE(expect_failing(s.t, c.reason));

    fault_set_answer(s.server, live_answer);
    fault_set_mode(s.server, fault_mode::answer);
    ASSERT_NO_FATAL_FAILURE(expect_back(s.t));
    EXPECT_TRUE(shows(s.t, " HTTP OK meanwhile ")) << tty_screen(s.t);
    sites_quit(s);
}

INSTANTIATE_TEST_SUITE_P(Faults, SiteFault, testing::ValuesIn(FAULT_CASES),
                         [](const auto &p) { return std::string(p.param.name); });

// A lone Livestatus site is read into the view itself, without names of
// sites: a fault in any of its replies, the last one's included, still
// leaves its last good read on the screen, marked, and a good read comes
// back whole.
TEST(SiteFaults, ALoneSiteKeepsItsViewThroughEachFault)
{
    const std::string dir = test_dir();
    write_defaults(dir);
    write_file(system_rc_path_in(dir),
               "default site_timeout = 2s\nsite live = livestatus:" + dir + "/live.sock\n");
    fault_server server = live_server(dir);
    tty t = tty_start(dir, {"-i", "1"}, COLS, ROWS);
    ASSERT_TRUE(tty_wait(t, "beta DISK")) << tty_screen(t);
    const std::vector<std::string> names = {" alpha HTTP ", " beta DISK "};
    auto expect_view = [&](const std::string &screen, bool stale) {
        EXPECT_NE(screen.find("2 Service Objects"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("live:alpha"), std::string::npos) << screen;
        for (const std::string &name : names) {
            const size_t at = screen.find(name.substr(1));
            ASSERT_NE(at, std::string::npos) << name << "\n" << screen;
            EXPECT_EQ(screen[at - 1], stale ? '?' : ' ') << name << "\n" << screen;
        }
    };
    for (const char *name : {"HostsNotJson", "ServicesOfTooFewColumns", "CloseMid", "Error"}) {
        const fault_case &c = *std::find_if(std::begin(FAULT_CASES), std::end(FAULT_CASES),
                                            [&](const fault_case &f) { return f.name == std::string(name); });
        SCOPED_TRACE(c.name);
        c.spoil(server);
        ASSERT_TRUE(tty_wait(t, "(" + c.reason + ")")) << tty_screen(t);
        std::string screen = screen_whole(t);
        expect_failure_line(screen, c.reason);
        expect_view(screen, true);
        // Another failing read leaves it so.
        const size_t seen = fault_requests(server).size();
        ASSERT_TRUE(fault_wait_requests(server, seen + 2));
        expect_view(screen_whole(t), true);

        fault_set_answer(server, live_answer);
        fault_set_mode(server, fault_mode::answer);
        ASSERT_TRUE(tty_wait_gone(t, "no answer since")) << tty_screen(t);
        harness_poll([&] {
            screen = screen_whole(t);
            return screen.find("?alpha") == std::string::npos;
        });
        expect_view(screen, false);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0) << tty_screen(t);
    EXPECT_EQ(tty_stderr(t), "");
}

// A socket path that names something else fails from the start; the status
// site shows all the same.
TEST(SiteFaults, APathThatIsNoSocketFailsAtStartUp)
{
    struct no_socket {
        const char *name;
        void (*make)(const std::string &path);
        const char *reason;
    } cases[] = {
        {"file", [](const std::string &p) { write_file(p, "200          2\n[]"); }, "not a socket"},
        {"directory", [](const std::string &p) { mkdir(p.c_str(), 0700); }, "not a socket"},
        {"missing", [](const std::string &) {}, "no such file or directory"},
    };
    for (const no_socket &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir();
        write_defaults(dir);
        write_file(dir + "/east.dat", east_file(CREATED));
        c.make(dir + "/live.sock");
        write_file(system_rc_path_in(dir), "default site_timeout = 2s\n"
                                           "site east = status:east.dat\n"
                                           "site live = livestatus:" +
                                               dir + "/live.sock\n");
        tty t = tty_start(dir, {"-i", "1"}, COLS, ROWS);
        ASSERT_TRUE(tty_wait(t, "no answer since")) << tty_screen(t);
        const std::string screen = screen_whole(t);
        expect_failure_line(screen, c.reason);
        EXPECT_NE(screen.find("2 Service Objects"), std::string::npos) << screen;
        EXPECT_NE(screen.find(" east:web1 HTTP "), std::string::npos) << screen;
        EXPECT_EQ(screen.find("live:alpha"), std::string::npos) << screen;
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0) << tty_screen(t);
    }
}

// The detail screen's queries of one object (they alone have filters): its
// record, with a long output of its own, and no comments or downtimes.
fault_answer live_detail_answer(const std::string &request)
{
    const std::string table = request.substr(4, request.find('\n') - 4);
    if (table != "hosts" && table != "services")
        return {200, "[]\n"};
    std::string row = "[";
    std::istringstream words(live_header(request, "Columns"));
    for (std::string w; words >> w;) {
        row += row.size() > 1 ? "," : "";
        row += w == "long_plugin_output" ? "\"told by the site\""
               : w == "perf_data"        ? "\"\""
                                         : "1";
    }
    return {200, "[" + row + "]]\n"};
}

// A site that holds the detail screen's queries: the screen shows the item
// at once and says that the site is asked, the keys are answered all the
// while, an ask that runs out of time says so, and the record comes in
// once the site answers.
TEST(SiteFaults, ASlowSiteHoldsUpNeitherTheDetailScreenNorTheKeys)
{
    two_sites s;
    ASSERT_NO_FATAL_FAILURE(sites_started(s));
    struct held_asks {
        std::atomic<bool> released{false};
        std::atomic<int> held{0};
    };
    const auto held = std::make_shared<held_asks>();
    // Whatever ends the test, the server's threads are let go before it stops.
    struct release_at_end {
        std::shared_ptr<held_asks> asks;
        ~release_at_end() { asks->released = true; }
    } release{held};
    held_asks &asks = *held;
    fault_set_answer(s.server, [held](const std::string &request) {
        if (request.find("\nFilter: ") == std::string::npos)
            return live_answer(request);
        held->held++;
        harness_poll([&] { return held->released.load(); }, 60000);
        return live_detail_answer(request);
    });
    tty_type(s.t, "/");
    ASSERT_TRUE(tty_wait_in_row(s.t, tty_command_row(ROWS), " Filter:")) << tty_screen(s.t);
    tty_type(s.t, "^live:alpha");
    tty_keys(s.t, {"Enter"});
    ASSERT_TRUE(tty_wait(s.t, "1 matches the filter")) << tty_screen(s.t);
    tty_keys(s.t, {"j", "Enter"});
    ASSERT_TRUE(tty_wait(s.t, "Service         live:alpha HTTP")) << tty_screen(s.t);
    EXPECT_TRUE(tty_wait(s.t, "Record          asking site live")) << tty_screen(s.t);
    EXPECT_TRUE(shows(s.t, "Output          HTTP FINE")) << tty_screen(s.t);
    ASSERT_TRUE(harness_poll([&] { return asks.held > 0; })) << "the site was asked";
    // Held by the site, the screen answers its keys.
    tty_type(s.t, "q");
    ASSERT_TRUE(tty_wait(s.t, " Status    Description ")) << tty_screen(s.t);
    tty_keys(s.t, {"Enter"});
    ASSERT_TRUE(tty_wait(s.t, "Service         live:alpha HTTP")) << tty_screen(s.t);
    // The ask has the site's time limit.
    EXPECT_TRUE(tty_wait(s.t, "Record          not given by site live (timed out)"))
        << tty_screen(s.t);
    EXPECT_FALSE(asks.released);

    asks.released = true;
    // Asked anew with the next read, the site answers.
    EXPECT_TRUE(tty_wait(s.t, "told by the site")) << tty_screen(s.t);
    EXPECT_TRUE(tty_wait_gone(s.t, "Record ")) << tty_screen(s.t);
    tty_type(s.t, "q");
    ASSERT_TRUE(tty_wait(s.t, " Status    Description ")) << tty_screen(s.t);
    sites_quit(s);
}

// The bell rings as the site turns bad, not at each refresh while it stays
// bad, and again when it turns bad once more after a good read.
TEST(SiteFaults, TheBellRingsOnceAsTheSiteTurnsBad)
{
    two_sites s("default alert = bell\n");
    ASSERT_NO_FATAL_FAILURE(sites_started(s));
    pane_log log(s.t);
    ASSERT_TRUE(log.ok());
    for (int turn = 0; turn < 2; turn++) {
        SCOPED_TRACE(turn);
        log.mark();
        fault_set_error(s.server, 452, "Table 'hosts' has no column 'bogus'\n");
        fault_set_mode(s.server, fault_mode::error);
        ASSERT_TRUE(tty_wait(s.t, "no answer since")) << tty_screen(s.t);
        ASSERT_TRUE(log.wait("\a")) << printable(log.since());
        // Three more failing reads taken in: a read begins only once the
        // one before has ended, and the refresh that begins it takes that
        // one in before the next key is read.
        const size_t seen = fault_requests(s.server).size();
        ASSERT_TRUE(fault_wait_requests(s.server, seen + 4));
        ASSERT_TRUE(tty_wait(s.t, "Command:")) << tty_screen(s.t);
        tty_type(s.t, "z");  // beeps on its own, after any alert
        ASSERT_TRUE(harness_poll([&] { return bells(log.since()) >= 2; }))
            << printable(log.since());
        harness_pause(200);
        EXPECT_EQ(bells(log.since()), 2) << printable(log.since());
        ASSERT_NO_FATAL_FAILURE(
            expect_failing(s.t, "error 452: Table 'hosts' has no column 'bogus'"));

        fault_set_mode(s.server, fault_mode::answer);
        ASSERT_NO_FATAL_FAILURE(expect_back(s.t));
    }
    sites_quit(s);
}

}  // namespace
