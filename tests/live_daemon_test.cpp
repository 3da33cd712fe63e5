// SPDX-License-Identifier: GPL-2.0-or-later
// The console beside a live Nagios 4 daemon: the daemon runs our own object
// configuration (tests/live/objects.cfg.in), whose checks are a script that
// prints a given text and ends with a given status, and the console reads
// the status file that the daemon writes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "command/command.h"
#include "harness.h"
#include "keys_tty.h"
#include "live_daemons.h"
#include "live_tty.h"
#include "quelvan.h"

namespace fs = std::filesystem;

namespace {

// Every live test's start: dir, the test's directory, and nagios, the daemon
// running there, with each of its objects checked once (the status file of
// that moment in *st_ptr unless it is null).
#define LIVE_START(st_ptr)                                              \
    LIVE_SKIP_UNLESS_POSSIBLE();                                        \
    const std::string dir = test_dir();                                 \
    live_daemon nagios(dir);                                            \
    ASSERT_TRUE(nagios.wait_for(live_all_checked, 60000, st_ptr))       \
        << read_file(dir + "/daemon.out") << nagios.daemon_log()

const std::string LONG_CHUNK = "log line 0123456789 abcdefghij klmnopqrst uvwxyz.";

std::string repeat(const std::string &s, int n)
{
    std::string r;
    for (int i = 0; i < n; i++)
        r += s;
    return r;
}

TEST(LiveDaemon, StatusFileHoldsTheConfiguredStates)
{
    live_status st;
    LIVE_START(&st);

    struct expect_row {
        std::string host, service, state, output;
    };
    const expect_row rows[] = {
        {"web-01", "", "0", "PING OK rta=0.5 ms"},
        {"db-01", "", "0", "PING OK   rta=0.7 ms"},
        {"gw-down", "", "1", "PING CRITICAL all lost"},
        {"app-behind", "", "2", "PING CRITICAL no route"},
        {"cache-new", "", "0", ""},
        {"web-01", "HTTP", "0", "HTTP OK size=512 bytes"},
        {"web-01", "TLS", "0", "gültig, läuft 30 Tage"},
        {"web-01", "Disk", "1", "DISK WARNING /var at 85 pct"},
        {"web-01", "Spool", "0", ""},
        {"db-01", "MySQL", "2", "CRITICAL   connection   refused"},
        {"db-01", "Backup", "3", "UNKNOWN no backup log"},
        {"db-01", "Log", "0", repeat(LONG_CHUNK, 40)},
        {"db-01", "Passive", "0", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.host + " " + r.service);
        const live_stanza *s = st.find(r.host, r.service);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->keys.at("current_state"), r.state);
        EXPECT_EQ(s->keys.at("plugin_output"), r.output);
    }
    // Never checked: no result and no state change yet.
    EXPECT_EQ(st.find("cache-new")->keys.at("last_state_change"), "0");
    EXPECT_EQ(st.find("db-01", "Passive")->keys.at("has_been_checked"), "0");
    EXPECT_GT(st.created, 0);

    // Nothing outside the run directory: no update check, no mail.
    EXPECT_EQ(nagios.daemon_log().find("update"), std::string::npos) << nagios.daemon_log();
}

TEST(LiveDaemon, PassiveResultReachesTheStatusFile)
{
    LIVE_START(nullptr);
    ASSERT_TRUE(nagios.send("PROCESS_SERVICE_CHECK_RESULT;db-01;Passive;2;PASSIVE CRITICAL sent"));
    EXPECT_TRUE(nagios.wait_for(
        [](const live_status &st) {
            const live_stanza *s = st.find("db-01", "Passive");
            return s && s->keys.at("current_state") == "2" &&
                   s->keys.at("plugin_output") == "PASSIVE CRITICAL sent";
        },
        30000))
        << nagios.daemon_log();
}

// The console's own writer, alone: its lines reach the daemon through the
// command pipe and come back in the status file as the daemon read them.
TEST(LiveDaemon, CommandWriterAcknowledgesAndSchedulesDowntime)
{
    LIVE_START(nullptr);
    settings_reset();
    const std::string pipe = nagios.run_dir() + "/nagios.cmd";
    const std::string author = command_author();
    ASSERT_FALSE(author.empty());
    const long long now = time(nullptr), end = now + 3600;
    std::string ack, downtime, why;
    ASSERT_TRUE(command_build(ACTION_ACK, "db-01", "MySQL", author.c_str(), "looked at; ticket 42",
                              now, 0, ack, why))
        << why;
    ASSERT_TRUE(command_build(ACTION_DOWNTIME, "gw-down", nullptr, author.c_str(),
                              "new; cable\tthere", now, end, downtime, why))
        << why;
    for (const std::string &line : {ack, downtime}) {
        std::string said;
        EXPECT_TRUE(harness_poll([&] { return (said = command_send(pipe.c_str(), line)).empty(); }))
            << said;
    }
    live_status st;
    EXPECT_TRUE(nagios.wait_for(
        [](const live_status &s) {
            const live_stanza *mysql = s.find("db-01", "MySQL");
            return mysql && mysql->keys.at("problem_has_been_acknowledged") == "1" &&
                   s.note("servicecomment", "db-01") && s.note("hostdowntime", "gw-down");
        },
        30000, &st))
        << nagios.daemon_log();

    const live_stanza *mysql = st.find("db-01", "MySQL");
    ASSERT_NE(mysql, nullptr);
    EXPECT_EQ(mysql->keys.at("acknowledgement_type"), "2");  // sticky
    const live_stanza *comment = st.note("servicecomment", "db-01");
    ASSERT_NE(comment, nullptr);
    std::map<std::string, std::string> want_comment = {
        {"service_description", "MySQL"}, {"entry_type", "4"}, {"persistent", "1"},
        {"author", author}, {"comment_data", "looked at; ticket 42"}};
    for (const auto &[key, value] : want_comment)
        EXPECT_EQ(comment->keys.count(key) ? comment->keys.at(key) : "(none)", value) << key;
    const live_stanza *dt = st.note("hostdowntime", "gw-down");
    ASSERT_NE(dt, nullptr);
    std::map<std::string, std::string> want_downtime = {
        {"start_time", std::to_string(now)}, {"end_time", std::to_string(end)}, {"fixed", "1"},
        {"duration", "3600"}, {"author", author}, {"comment", "new cable there"}};
    for (const auto &[key, value] : want_downtime)
        EXPECT_EQ(dt->keys.count(key) ? dt->keys.at(key) : "(none)", value) << key;
}

TEST(LiveDaemon, StopEndsTheDaemonAndItsWorkers)
{
    LIVE_START(nullptr);
    const std::string run = nagios.run_dir();
    nagios.stop();
    EXPECT_FALSE(fs::exists(run));
    // No process is left that works for that run directory.
    EXPECT_TRUE(harness_poll([&] { return live_processes_of(run).empty(); }))
        << live_processes_of(run).size() << " left";
}


// --- the console beside the daemon ---

// A working directory for the console: the hook script and help file, and
// status.dat pointing at the daemon's status file.
void live_console_dir(const std::string &dir, const live_daemon &nagios,
                      const std::string &hook = PASS_THROUGH_HOOK)
{
    write_defaults(dir, "", hook);
    fs::remove(status_path(dir));
    fs::create_symlink(nagios.status_path(), status_path(dir));
}

std::string live_ctime(long t, size_t n)
{
    time_t tt = t;
    char buf[64];
    ctime_r(&tt, buf);  // TZ=UTC in the test program as in the console
    return std::string(buf).substr(0, n);
}

// The status file's time that the screen shows (title row, 19 characters),
// found among the last minutes' seconds.
long live_shown_created(const tty &t)
{
    std::string title = tty_row(t, 1);
    if (title.size() < 78)
        return 0;
    std::string shown = title.substr(59, 19);
    long now = time(nullptr);
    for (long s = now + 5; s > now - 600; s--)
        if (live_ctime(s, 19) == shown)
            return s;
    return 0;
}

// What one object looks like on the console, and what the daemon wrote.
struct live_item {
    std::string host, service;  // service empty for a host
    std::string state;          // as the console names it
    std::string output;         // as shown
    bool pending;
    // Columns 0 to 50 of its row on an 80-column screen with pad 1: the
    // state, then the name written over the output right-aligned in 40
    // columns (worked by hand).
    std::string shown;
};

// Seconds of a duration text as the console writes it ("5m 3s", "2h 7m",
// "3d 1h"), and the size of its last unit: the text gives the age to
// within that. A text cut at the field's 8 columns ("20797d 6") is read by
// its first number and unit alone.
bool live_duration_secs(const std::string &text, long &secs, long &unit)
{
    long a = 0, b = 0;
    char ua = 0, ub = 0;
    const int got = sscanf(text.c_str(), "%ld%c %ld%c", &a, &ua, &b, &ub);
    const long big = ua == 'm' ? 60 : ua == 'h' ? 3600 : ua == 'd' ? 86400 : 0;
    const long small = ub == 's' ? 1 : ub == 'm' ? 60 : ub == 'h' ? 3600 : 0;
    if (got == 3 && big != 0) {
        secs = a * big;
        unit = big;
        return true;
    }
    if (got != 4 || big == 0 || small == 0 || big <= small)
        return false;
    secs = a * big + b * small;
    unit = small;
    return true;
}

// Checks one item row: the worked columns 0 to 50, then the last change
// (the daemon's last_state_change as ctime gives it, in columns 53 to 68)
// and the duration (right-aligned in columns 71 to 78) against the age
// that the daemon's numbers give.
void live_expect_line(const std::string &row, const live_item &it, const live_status &st,
                      long created)
{
    ASSERT_EQ(row.size(), 79u) << row;
    if (it.state.empty()) {
        // A state the console has no name for: the first columns are open.
        EXPECT_EQ(row.substr(10, 41), it.shown.substr(10)) << row;
        EXPECT_EQ(row.find("UP"), std::string::npos) << row;
    } else {
        EXPECT_EQ(row.substr(0, 51), it.shown) << row;
    }
    EXPECT_EQ(row.substr(51, 2), "  ") << row;
    EXPECT_EQ(row.substr(69, 2), "  ") << row;
    const std::string change = row.substr(53, 16);
    const std::string duration = row.substr(71);
    if (it.pending) {
        EXPECT_EQ(change, " not applicable ") << row;
        EXPECT_EQ(duration, "   0m 0s") << row;
        return;
    }
    const live_stanza *s = st.find(it.host, it.service);
    ASSERT_NE(s, nullptr);
    const long lsc = atol(s->keys.at("last_state_change").c_str());
    long secs = 0, unit = 1;
    const size_t from = duration.find_first_not_of(' ');
    ASSERT_NE(from, std::string::npos) << row;
    if (lsc == 0 && st.program_start > 0) {
        // Checked, and no change since its first check: it has lasted at
        // least since the daemon started.
        EXPECT_EQ(change, " not applicable ") << row;
        ASSERT_EQ(duration.back(), '+') << row;
        ASSERT_TRUE(live_duration_secs(duration.substr(from, duration.size() - from - 1), secs, unit))
            << row;
        EXPECT_LE(secs, created - st.program_start) << row;
        EXPECT_GT(secs + unit, created - st.program_start) << row;
        return;
    }
    EXPECT_EQ(change, live_ctime(lsc, 16)) << row;
    ASSERT_TRUE(live_duration_secs(duration.substr(from), secs, unit)) << row;
    EXPECT_LE(secs, created - lsc) << row;
    EXPECT_GT(secs + unit, created - lsc) << row;
}

// The item rows (7 to 19) of the screen, without trailing blanks.
std::vector<std::string> live_item_rows(const tty &t)
{
    std::vector<std::string> rows;
    for (int r = 7; r <= 19; r++) {
        std::string row = tty_row(t, r);
        if (!row.empty())
            rows.push_back(row);
    }
    return rows;
}

const std::string LONG_SHOWN = repeat(LONG_CHUNK, 1).substr(0, 40);

// The objects of tests/live/objects.cfg.in in the daemon's order (by name).
const live_item HOSTS[] = {
    {"app-behind", "", "", "PING CRITICAL no route", false,
     "           app-behind        PING CRITICAL no route"},  // UNREACHABLE: no state name
    {"cache-new", "", "PENDING", "(Host assumed to be up)", true,
     " PENDING   cache-new        (Host assumed to be up)"},
    {"db-01", "", "UP", "PING OK   rta=0.7 ms", false,
     " UP        db-01               PING OK   rta=0.7 ms"},
    {"gw-down", "", "DOWN", "PING CRITICAL all lost", false,
     " DOWN      gw-down           PING CRITICAL all lost"},
    {"web-01", "", "UP", "PING OK rta=0.5 ms", false,
     " UP        web-01                PING OK rta=0.5 ms"},
};
const live_item SERVICES[] = {
    {"db-01", "Backup", "UNKNOWN", "UNKNOWN no backup log", false,
     " UNKNOWN   db-01 Backup       UNKNOWN no backup log"},
    {"db-01", "Log", "OKAY", LONG_SHOWN, false,
     " OKAY      db-01 Log  23456789 abcdefghij klmnopqrs"},
    {"db-01", "MySQL", "CRITICAL", "CRITICAL   connection   refused", false,
     " CRITICAL  db-01 MySQL  ICAL   connection   refused"},
    {"db-01", "Passive", "PENDING", "", true,
     " PENDING   db-01 Passive                           "},
    {"web-01", "Disk", "WARNING", "DISK WARNING /var at 85 pct", false,
     " WARNING   web-01 Disk  DISK WARNING /var at 85 pct"},
    {"web-01", "HTTP", "OKAY", "HTTP OK size=512 bytes", false,
     " OKAY      web-01 HTTP       HTTP OK size=512 bytes"},
    {"web-01", "Spool", "PENDING", "", true,
     " PENDING   web-01 Spool                            "},
    {"web-01", "TLS", "OKAY", "gültig, läuft 30 Tage", false, ""},  // checked by its width
};

int live_level(const std::string &state)
{
    if (state == "UP" || state == "OKAY")
        return 0;
    if (state == "DOWN" || state == "CRITICAL")
        return 2;
    return 1;
}

// Checks the item rows of the screen against the items at or above level,
// in the daemon's order or by age (newest state change first; a pending
// item's change is the status file's time).
void live_expect_rows(const tty &t, const live_status &st, long created, bool hosts, int level,
                      bool by_age = false)
{
    std::vector<const live_item *> items;
    const live_item *begin = hosts ? std::begin(HOSTS) : std::begin(SERVICES);
    const live_item *end = hosts ? std::end(HOSTS) : std::end(SERVICES);
    for (const live_item *it = begin; it != end; ++it)
        if (live_level(it->state) >= level)
            items.push_back(it);
    if (by_age) {
        auto age = [&](const live_item *it) {
            const live_stanza *s = st.find(it->host, it->service);
            long lsc = s ? atol(s->keys.at("last_state_change").c_str()) : 0;
            return it->pending || !s ? created : lsc == 0 ? st.program_start : lsc;
        };
        std::stable_sort(items.begin(), items.end(),
                         [&](const live_item *a, const live_item *b) { return age(a) > age(b); });
    }
    std::vector<std::string> rows = live_item_rows(t);
    ASSERT_EQ(rows.size(), items.size()) << tty_screen(t);
    for (size_t i = 0; i < items.size(); i++) {
        const live_item &it = *items[i];
        SCOPED_TRACE(it.host + " " + it.service);
        if (it.output.find("ü") != std::string::npos) {
            // Multi-byte text: its place in the field depends on its width.
            EXPECT_EQ(rows[i].rfind(" OKAY      web-01 TLS  ", 0), 0u) << rows[i];
            // Right-aligned by its width: it ends where the field ends.
            EXPECT_NE(rows[i].find(it.output + "   not applicable "), std::string::npos) << rows[i];
            continue;
        }
        live_expect_line(rows[i], it, st, created);
    }
}

TEST(LiveConsole, ShowsTheDaemonsStatesInEveryModeAndLevel)
{
    live_status st;
    LIVE_START(&st);
    live_console_dir(dir, nagios);

    // No timer: the screen keeps the one read made at start-up.
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t) << tty_stderr(t);
    long created = live_shown_created(t);
    ASSERT_NE(created, 0) << tty_screen(t);

    struct view {
        const char *key;  // "" for the start view
        const char *count;
        bool hosts;
        int level;
        bool by_age;
    };
    const view views[] = {
        {"", "8 Service Objects", false, 0, false},
        {"w", "5 Alerts", false, 1, false},
        {"c", "1 Alert", false, 2, false},
        {"u", "5 Host Objects", true, 0, false},
        {"d", "1 Down Host", true, 2, false},
        {"s", "Sort: by age", true, 2, true},
        {"u", "5 Host Objects", true, 0, true},
        {"o", "8 Service Objects", false, 0, true},
        {"w", "5 Alerts", false, 1, true},
        {"t", "Sort: by name", false, 1, false},
    };
    for (const auto &v : views) {
        SCOPED_TRACE(std::string("key ") + v.key);
        if (*v.key) {
            tty_type(t, v.key);
            ASSERT_TRUE(tty_wait(t, v.count)) << tty_screen(t);
            ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
            // The message pause is over once the command row is bare again.
            ASSERT_TRUE(tty_wait_gone(t, "mode")) << tty_screen(t);
            ASSERT_TRUE(tty_wait_gone(t, "sort by")) << tty_screen(t);
        }
        EXPECT_NE((tty_row(t, 1) + tty_row(t, 2)).find(v.count), std::string::npos)
            << tty_screen(t);
        EXPECT_NE(tty_row(t, 3).find("page 1 of 1"), std::string::npos) << tty_row(t, 3);
        live_expect_rows(t, st, created, v.hosts, v.level, v.by_age);
    }

    // A regex filter over the daemon's UTF-8 text, among all services.
    tty_type(t, "o");
    ASSERT_TRUE(tty_wait(t, "8 Service Objects")) << tty_screen(t);
    tty_type(t, "/");
    // The header reads "Filter:" too: the prompt is on the command row.
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " Filter:")) << tty_screen(t);
    tty_type(t, "läuft");
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " 1 matches the filter")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    std::vector<std::string> rows = live_item_rows(t);
    ASSERT_EQ(rows.size(), 1u) << tty_screen(t);
    EXPECT_NE(rows[0].find("web-01 TLS"), std::string::npos) << rows[0];

    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

TEST(LiveConsole, PassiveResultsShowAfterTheNextRefresh)
{
    LIVE_START(nullptr);
    live_console_dir(dir, nagios);

    tty t = tty_start(dir, {"-i", "2", "-l", "c"});
    ASSERT_TRUE(tty_wait(t, "1 Alert")) << tty_screen(t) << tty_stderr(t);
    EXPECT_EQ(tty_screen(t).find("PASSIVE"), std::string::npos);

    ASSERT_TRUE(nagios.send("PROCESS_SERVICE_CHECK_RESULT;db-01;Passive;2;PASSIVE CRITICAL sent"));
    // No key is pressed: the timer's re-read brings the new state.
    ASSERT_TRUE(tty_wait(t, "2 Alerts")) << tty_screen(t) << nagios.daemon_log();
    ASSERT_TRUE(tty_wait(t, "PASSIVE CRITICAL sent")) << tty_screen(t);
    std::string row;
    for (int r = 7; r <= 19; r++)
        if (tty_row(t, r).find("db-01 Passive") != std::string::npos)
            row = tty_row(t, r);
    EXPECT_EQ(row.rfind(" CRITICAL  db-01 Passive  ", 0), 0u) << tty_screen(t);
    EXPECT_NE(row.find("PASSIVE CRITICAL sent"), std::string::npos) << row;

    // A host result too: cache-new, never checked, goes DOWN.
    tty_type(t, "d");
    ASSERT_TRUE(tty_wait(t, "1 Down Host")) << tty_screen(t);
    ASSERT_TRUE(nagios.send("PROCESS_HOST_CHECK_RESULT;cache-new;1;PASSIVE DOWN sent"));
    ASSERT_TRUE(tty_wait(t, "2 Down Hosts")) << tty_screen(t) << nagios.daemon_log();
    EXPECT_TRUE(tty_wait(t, "PASSIVE DOWN sent")) << tty_screen(t);

    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(LiveConsole, AcknowledgementsAndDowntimesShowAndNewProblemsRing)
{
    live_status st;
    LIVE_START(&st);
    ASSERT_GT(st.program_start, 0);
    live_console_dir(dir, nagios);
    write_file(system_rc_path_in(dir), "default alert = bell\n");

    tty t = tty_start(dir, {"-i", "2"});
    ASSERT_TRUE(tty_wait(t, "8 Service Objects")) << tty_screen(t) << tty_stderr(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());

    // Right after its first check, an object's state has lasted since the
    // daemon started.
    std::string http = live_row_with(t, "web-01 HTTP");
    EXPECT_EQ(http.rfind(" OKAY      web-01 HTTP  ", 0), 0u) << tty_screen(t);
    EXPECT_NE(http.find("   not applicable "), std::string::npos) << http;
    EXPECT_EQ(http.back(), '+') << http;

    long now = time(nullptr);
    ASSERT_TRUE(nagios.send("ACKNOWLEDGE_SVC_PROBLEM;db-01;MySQL;1;0;0;tester;looked at"));
    ASSERT_TRUE(nagios.send("ACKNOWLEDGE_HOST_PROBLEM;gw-down;1;0;0;tester;known"));
    ASSERT_TRUE(nagios.send("SCHEDULE_SVC_DOWNTIME;web-01;Disk;" + std::to_string(now - 60) + ";" +
                            std::to_string(now + 3600) + ";1;0;3600;tester;maintenance"));
    ASSERT_TRUE(nagios.wait_for(
        [](const live_status &s) {
            const live_stanza *mysql = s.find("db-01", "MySQL");
            const live_stanza *gw = s.find("gw-down");
            const live_stanza *disk = s.find("web-01", "Disk");
            return mysql && gw && disk &&
                   mysql->keys.at("problem_has_been_acknowledged") == "1" &&
                   gw->keys.at("problem_has_been_acknowledged") == "1" &&
                   disk->keys.at("scheduled_downtime_depth") == "1";
        },
        30000))
        << nagios.daemon_log();

    // The console's next timer refresh shows the marks.
    EXPECT_TRUE(live_wait_row(t, "db-01 MySQL", " CRIT/ACK  db-01 MySQL  ")) << tty_screen(t);
    EXPECT_TRUE(live_wait_row(t, "web-01 Disk", " WARN/DT   web-01 Disk  ")) << tty_screen(t);
    tty_type(t, "d");
    EXPECT_TRUE(live_wait_row(t, "gw-down", " DOWN/ACK  gw-down ")) << tty_screen(t);

    // "H" hides them.
    tty_type(t, "H");
    ASSERT_TRUE(tty_wait(t, "Filter: unhandled")) << tty_screen(t);
    EXPECT_TRUE(tty_wait_gone(t, "gw-down")) << tty_screen(t);
    tty_type(t, "w");
    ASSERT_TRUE(tty_wait(t, "5 Alerts")) << tty_screen(t);
    ASSERT_TRUE(tty_wait(t, "web-01 Spool")) << tty_screen(t);
    EXPECT_EQ(live_row_with(t, "db-01 MySQL"), "") << tty_screen(t);
    EXPECT_EQ(live_row_with(t, "web-01 Disk"), "") << tty_screen(t);
    EXPECT_NE(live_row_with(t, "db-01 Backup"), "") << tty_screen(t);
    EXPECT_EQ(bells(log.since()), 0) << printable(log.since());

    // A check that turns CRITICAL rings the bell at the next refresh.
    log.mark();
    ASSERT_TRUE(nagios.send("PROCESS_SERVICE_CHECK_RESULT;db-01;Passive;2;PASSIVE CRITICAL sent"));
    EXPECT_TRUE(log.wait("\a", 30000)) << printable(log.since()) << nagios.daemon_log();
    EXPECT_TRUE(tty_wait(t, "PASSIVE CRITICAL sent")) << tty_screen(t);
    EXPECT_EQ(bells(log.since()), 1) << printable(log.since());

    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// --- actions from the console's detail screen, through the daemon's pipe ---

// A console on the daemon with its command pipe as command_file.
tty live_acting_console(const std::string &dir, const live_daemon &nagios,
                        const std::vector<std::string> &args)
{
    live_console_dir(dir, nagios);
    write_file(system_rc_path_in(dir),
               "default command_file = " + nagios.run_dir() + "/nagios.cmd\n");
    return tty_start(dir, args);
}

std::string live_key(const live_status &st, const std::string &host, const std::string &service,
                     const std::string &key)
{
    const live_stanza *s = st.find(host, service);
    return s && s->keys.count(key) ? s->keys.at(key) : "";
}

TEST(LiveConsole, ActionsOfTheDetailScreenReachTheDaemon)
{
    LIVE_START(nullptr);
    // A CRITICAL result of several lines with metrics ("\n" as the pipe
    // writes a line end).
    ASSERT_TRUE(nagios.send("PROCESS_SERVICE_CHECK_RESULT;db-01;Passive;2;PASSIVE CRITICAL disk"
                            "\\nfirst extra line\\nsecond extra line|used=90%;80;95;0;100"));
    ASSERT_TRUE(nagios.wait_for(
        [](const live_status &st) { return live_key(st, "db-01", "Passive", "current_state") == "2"; },
        30000))
        << nagios.daemon_log();
    const std::string author = harness_sh("id -un | tr -d '\\n'");

    // No timer: what changes on the screen comes from the watch after a command.
    tty t = live_acting_console(dir, nagios, {"-i", "0", "-l", "c"});
    ASSERT_TRUE(tty_wait(t, "2 Alerts")) << tty_screen(t) << tty_stderr(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());

    // Acknowledge, back to the list at once: the mark comes without a key.
    ASSERT_NO_FATAL_FAILURE(live_open(t, "Passive"));
    log.mark();
    tty_type(t, "a");
    ASSERT_NO_FATAL_FAILURE(live_answer(t, "Comment:", "seen live, ticket 9"));
    ASSERT_TRUE(log.wait("acknowledged")) << printable(log.since());
    tty_type(t, "q");
    EXPECT_TRUE(live_wait_row(t, "db-01 Passive", " CRIT/ACK  db-01 Passive  ", 30000))
        << tty_screen(t) << nagios.daemon_log();
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "Service Detail")) << tty_screen(t);
    for (const std::string &shown : {author, std::string("seen live, ticket 9"),
                                     std::string("first extra line"),
                                     std::string("second extra line"), std::string("used")})
        EXPECT_TRUE(tty_wait(t, shown)) << shown << "\n" << tty_screen(t);

    // Remove it.
    tty_type(t, "u");
    ASSERT_TRUE(log.wait("acknowledgement removed")) << printable(log.since());
    tty_type(t, "q");
    EXPECT_TRUE(live_wait_row(t, "db-01 Passive", " CRITICAL  db-01 Passive  ", 30000))
        << tty_screen(t) << nagios.daemon_log();

    // A check now advances last_check.
    live_status st = live_parse(read_file(nagios.status_path()));
    const long checked = atol(live_key(st, "db-01", "MySQL", "last_check").c_str());
    ASSERT_NO_FATAL_FAILURE(live_open(t, "MySQL"));
    log.mark();
    tty_type(t, "c");
    ASSERT_TRUE(log.wait("check scheduled")) << printable(log.since());
    EXPECT_TRUE(nagios.wait_for(
        [&](const live_status &s) {
            return atol(live_key(s, "db-01", "MySQL", "last_check").c_str()) > checked;
        },
        30000))
        << nagios.daemon_log();

    // Notifications flip at each "n", as the file has them.
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(i);
        st = live_parse(read_file(nagios.status_path()));
        const std::string was = live_key(st, "db-01", "MySQL", "notifications_enabled");
        const std::string want = was == "1" ? "0" : "1";
        // The record names notifications only where they are off.
        ASSERT_TRUE(was == "1" ? tty_wait_gone(t, "Notifications   disabled")
                               : tty_wait(t, "Notifications   disabled"))
            << tty_screen(t);
        log.mark();
        tty_type(t, "n");
        ASSERT_TRUE(log.wait(want == "1" ? "notifications enabled" : "notifications disabled"))
            << printable(log.since());
        EXPECT_TRUE(nagios.wait_for(
            [&](const live_status &s) {
                return live_key(s, "db-01", "MySQL", "notifications_enabled") == want;
            },
            30000))
            << nagios.daemon_log();
        EXPECT_TRUE(want == "1" ? tty_wait_gone(t, "Notifications   disabled")
                                : tty_wait(t, "Notifications   disabled"))
            << tty_screen(t);
    }
    tty_type(t, "q");

    // A downtime of an hour on a host.
    tty_type(t, "d");
    ASSERT_TRUE(tty_wait(t, "1 Down Host")) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(live_open(t, "gw-down"));
    log.mark();
    const long before = time(nullptr);
    tty_type(t, "D");
    ASSERT_NO_FATAL_FAILURE(live_answer(t, "Downtime:", "1h"));
    ASSERT_NO_FATAL_FAILURE(live_answer(t, "Comment:", "cable swap"));
    ASSERT_TRUE(log.wait("downtime until")) << printable(log.since());
    const long after = time(nullptr);
    tty_type(t, "q");
    EXPECT_TRUE(live_wait_row(t, "gw-down", " DOWN/DT   gw-down ", 30000))
        << tty_screen(t) << nagios.daemon_log();
    st = live_parse(read_file(nagios.status_path()));
    const live_stanza *dt = st.note("hostdowntime", "gw-down");
    ASSERT_NE(dt, nullptr) << nagios.daemon_log();
    const long start = atol(dt->keys.at("start_time").c_str());
    EXPECT_GE(start, before);
    EXPECT_LE(start, after);
    EXPECT_EQ(atol(dt->keys.at("end_time").c_str()), start + 3600);
    EXPECT_EQ(dt->keys.at("author"), author);
    EXPECT_EQ(dt->keys.at("comment"), "cable swap");

    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// Two consoles acknowledging at the same moment: each line reaches the
// daemon whole.
TEST(LiveConsole, TwoConsolesAcknowledgingAtOnceWriteWholeLines)
{
    LIVE_START(nullptr);
    const std::string dir2 = dir + "/second";
    fs::create_directories(dir2);
    tty a = live_acting_console(dir, nagios, {"-i", "0", "-l", "c"});
    tty b = live_acting_console(dir2, nagios, {"-i", "0", "-l", "c"});
    const std::string comment_a = "first console " + std::string(300, 'a');
    const std::string comment_b = "second console " + std::string(300, 'b');
    for (const tty *t : {&a, &b}) {
        ASSERT_TRUE(tty_wait(*t, "1 Alert")) << tty_screen(*t);
        ASSERT_NO_FATAL_FAILURE(live_open(*t, "MySQL"));
        tty_type(*t, "a");
        ASSERT_TRUE(tty_wait_row(*t, tty_command_row(24), " Comment:")) << tty_screen(*t);
        tty_type(*t, t == &a ? comment_a : comment_b);
    }
    // Both answers typed; the two Enters as close together as can be.
    tty_keys(a, {"Enter"});
    tty_keys(b, {"Enter"});
    auto logged = [&] {
        return count_of(nagios.daemon_log(), "EXTERNAL COMMAND: ACKNOWLEDGE_SVC_PROBLEM;") >= 2;
    };
    ASSERT_TRUE(harness_poll(logged, 30000)) << nagios.daemon_log();
    const std::string author = harness_sh("id -un | tr -d '\\n'");
    std::istringstream in(nagios.daemon_log());
    int whole = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("ACKNOWLEDGE_SVC_PROBLEM") == std::string::npos)
            continue;
        const std::string tail = line.substr(line.find("ACKNOWLEDGE_SVC_PROBLEM"));
        EXPECT_TRUE(tail == "ACKNOWLEDGE_SVC_PROBLEM;db-01;MySQL;2;1;1;" + author + ";" + comment_a ||
                    tail == "ACKNOWLEDGE_SVC_PROBLEM;db-01;MySQL;2;1;1;" + author + ";" + comment_b)
            << line;
        whole++;
    }
    EXPECT_EQ(whole, 2) << nagios.daemon_log();
    for (const tty *t : {&a, &b}) {
        tty_type(*t, "q");
        tty_type(*t, "q");
        EXPECT_EQ(tty_wait_exit(*t), 0);
    }
}

}  // namespace
