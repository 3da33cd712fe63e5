// SPDX-License-Identifier: GPL-2.0-or-later
// Two real daemons in one view: the Nagios 4 daemon of tests/live read
// through its status file and written to through its command pipe, and
// Icinga 2 asked and commanded over Livestatus.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "keys_tty.h"
#include "live_daemons.h"
#include "live_tty.h"

namespace {

bool shows(const tty &t, const std::string &text)
{
    return tty_screen(t).find(text) != std::string::npos;
}

// Both daemons running for the test's directory dir, every object checked.
#define SITES_LIVE_START(tcp)                                                    \
    LIVE_SKIP_UNLESS_POSSIBLE();                                                 \
    LIVE_ICINGA_SKIP_UNLESS_POSSIBLE();                                          \
    const std::string dir = test_dir();                                          \
    live_daemon nagios(dir);                                                     \
    live_icinga icinga(dir, tcp);                                                \
    ASSERT_TRUE(nagios.wait_for(live_all_checked, 60000))                        \
        << read_file(dir + "/daemon.out") << nagios.daemon_log();                \
    ASSERT_TRUE(icinga.wait_ready(60000)) << icinga.daemon_output() << icinga.daemon_log()

// The site statements of both daemons, Nagios first.
std::string sites_of(const live_daemon &nagios, const std::string &icinga_address,
                     const std::string &more = "")
{
    return "site nag = status:" + nagios.status_path() + " " + nagios.run_dir() +
           "/nagios.cmd\nsite ice = livestatus:" + icinga_address + "\n" + more;
}

// The item rows of the screen from row first on, without trailing blanks.
std::vector<std::string> sites_rows(const tty &t, int first, int last)
{
    std::vector<std::string> rows;
    for (int r = first; r <= last; r++)
        if (!tty_row(t, r).empty())
            rows.push_back(tty_row(t, r));
    return rows;
}

// Whether rows hold one that begins with begins.
bool sites_has_row(const std::vector<std::string> &rows, const std::string &begins)
{
    for (const std::string &r : rows)
        if (r.rfind(begins, 0) == 0)
            return true;
    return false;
}

// Both daemons' objects in one view: each item named with its site, the
// Nagios site's in its file's order first, the counts over both; the
// Icinga 2 items as its objects' configuration has them (any order: the
// daemon's replies are not sorted).
TEST(SitesLive, NagiosAndIcingaInOneView)
{
    SITES_LIVE_START(false);
    write_defaults(dir);
    write_file(system_rc_path_in(dir), sites_of(nagios, icinga.socket_path()));
    tty t = tty_start(dir, {"-i", "0"}, 80, 30);
    ASSERT_TRUE(tty_wait(t, "16 Service Objects")) << tty_screen(t) << tty_stderr(t);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);

    struct view {
        const char *key;
        const char *count;
        std::vector<std::string> rows;  // the beginnings of its rows, in order
        size_t nagios_rows;             // how many of them are the Nagios site's, first
    };
    const view views[] = {
        {"", "16 Service Objects",
         {" UNKNOWN   nag:db-01 Backup ", " OKAY      nag:db-01 Log ", " CRITICAL  nag:db-01 MySQL ",
          " PENDING   nag:db-01 Passive ", " WARNING   nag:web-01 Disk ", " OKAY      nag:web-01 HTTP ",
          " PENDING   nag:web-01 Spool ", " OKAY      nag:web-01 TLS ",
          " OKAY      ice:ice-web HTTP ", " OKAY      ice:ice-web TLS ",
          " WARNING   ice:ice-web Disk ", " WARN/DT   ice:ice-web Cert ",
          " PENDING   ice:ice-web Spool ", " CRITICAL  ice:ice-db MySQL ",
          " CRIT/ACK  ice:ice-db Queue ", " UNKNOWN   ice:ice-db Backup "},
         8},
        {"c", "3 Alerts",
         {" CRITICAL  nag:db-01 MySQL ", " CRITICAL  ice:ice-db MySQL ", " CRIT/ACK  ice:ice-db Queue "},
         1},
        {"u", "10 Host Objects",
         {"           nag:app-behind ", " PENDING   nag:cache-new ", " UP        nag:db-01 ",
          " DOWN      nag:gw-down ", " UP        nag:web-01 ", " UP        ice:ice-web ",
          " UP        ice:ice-db ", " DOWN      ice:ice-down ", "           ice:ice-behind ",
          " PENDING   ice:ice-new "},
         5},
        {"d", "2 Down Hosts", {" DOWN      nag:gw-down ", " DOWN      ice:ice-down "}, 1},
    };
    for (const view &v : views) {
        SCOPED_TRACE(std::string("key ") + v.key);
        if (*v.key) {
            tty_type(t, v.key);
            ASSERT_TRUE(tty_wait(t, v.count)) << tty_screen(t);
            ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        }
        EXPECT_NE(tty_row(t, 1).find(v.count), std::string::npos) << tty_screen(t);
        std::vector<std::string> rows = sites_rows(t, 7, 26);
        ASSERT_EQ(rows.size(), v.rows.size()) << tty_screen(t);
        for (size_t i = 0; i < v.nagios_rows; i++)
            EXPECT_EQ(rows[i].rfind(v.rows[i], 0), 0u) << rows[i] << "\n" << v.rows[i];
        const std::vector<std::string> ice(rows.begin() + static_cast<long>(v.nagios_rows), rows.end());
        for (size_t i = v.nagios_rows; i < v.rows.size(); i++)
            EXPECT_TRUE(sites_has_row(ice, v.rows[i])) << v.rows[i] << "\n" << tty_screen(t);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

// The same daemon over its unix socket and over TCP on the loopback
// address, as two sites of one view: each item twice, the same but for its
// site's name (and its duration, of replies a moment apart).
TEST(SitesLive, UnixSocketAndTcpShowTheSameItems)
{
    LIVE_ICINGA_START(true);
    write_defaults(dir);
    write_file(system_rc_path_in(dir),
               "site unix = livestatus:" + icinga.socket_path() +
                   "\nsite inet = livestatus:127.0.0.1:" + std::to_string(icinga.tcp_port()) + "\n");
    tty t = tty_start(dir, {"-i", "0"}, 80, 30);
    for (const char *mode : {"", "u"}) {
        SCOPED_TRACE(mode);
        tty_type(t, mode);
        ASSERT_TRUE(tty_wait(t, *mode ? "10 Host Objects" : "16 Service Objects"))
            << tty_screen(t) << tty_stderr(t);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        std::vector<std::string> rows = sites_rows(t, 7, 26);
        ASSERT_EQ(rows.size() % 2, 0u) << tty_screen(t);
        const size_t n = rows.size() / 2;
        // Up to the last change, without the name's site (of the same
        // length for both, so that the outputs are cut alike).
        auto plain = [](std::string row, const std::string &site) {
            const size_t at = row.find(site + ":");
            EXPECT_NE(at, std::string::npos) << row;
            row.erase(at, site.size() + 1);
            return row.substr(0, 69 - site.size() - 1);
        };
        std::vector<std::string> over_unix, over_tcp;
        for (size_t i = 0; i < n; i++) {
            over_unix.push_back(plain(rows[i], "unix"));
            over_tcp.push_back(plain(rows[n + i], "inet"));
        }
        std::sort(over_unix.begin(), over_unix.end());
        std::sort(over_tcp.begin(), over_tcp.end());
        EXPECT_EQ(over_unix, over_tcp) << tty_screen(t);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

// The Icinga 2 daemon stops: its items stay, marked, under a line naming
// it, the bell rings once, and the Nagios site goes on refreshing; it
// starts again: all is back.
TEST(SitesLive, AStoppedDaemonIsNamedAndTheOtherSiteGoesOn)
{
    SITES_LIVE_START(false);
    write_defaults(dir);
    write_file(system_rc_path_in(dir),
               sites_of(nagios, icinga.socket_path(),
                        "default site_timeout = 3s\ndefault alert = bell\n"));
    tty t = tty_start(dir, {"-i", "1"}, 80, 30);
    ASSERT_TRUE(tty_wait(t, "16 Service Objects")) << tty_screen(t) << tty_stderr(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());

    log.mark();
    icinga.stop();
    ASSERT_TRUE(tty_wait(t, "  site ice: no answer since ")) << tty_screen(t);
    EXPECT_EQ(tty_row(t, 4).rfind("  site ice: no answer since ", 0), 0u) << tty_screen(t);
    // Its items are kept, marked, the list one row lower.
    EXPECT_TRUE(live_wait_row(t, "ice:ice-db MySQL", " CRITICAL ?ice:ice-db MySQL ", WAIT_MS, 8, 26))
        << tty_screen(t);
    EXPECT_TRUE(live_wait_row(t, "nag:db-01 MySQL", " CRITICAL  nag:db-01 MySQL ", WAIT_MS, 8, 26))
        << tty_screen(t);
    EXPECT_TRUE(tty_wait(t, "16 Service Objects")) << tty_screen(t);

    // The other site's news show at its next refreshes.
    ASSERT_TRUE(nagios.send("PROCESS_SERVICE_CHECK_RESULT;db-01;Passive;0;PASSIVE OK while ice is down"));
    EXPECT_TRUE(live_wait_row(t, "nag:db-01 Passive", " OKAY      nag:db-01 Passive ", 30000, 8, 26))
        << tty_screen(t) << nagios.daemon_log();
    EXPECT_TRUE(tty_wait(t, " OK while ice is down  ")) << tty_screen(t);
    EXPECT_TRUE(shows(t, "site ice: no answer since")) << tty_screen(t);
    // One bell for the site's turning bad, none for each read that fails.
    EXPECT_EQ(bells(log.since()), 1) << printable(log.since());

    // Back.
    ASSERT_TRUE(icinga.start()) << icinga.daemon_output();
    EXPECT_TRUE(tty_wait_gone(t, "no answer since", 60000)) << tty_screen(t) << icinga.daemon_log();
    EXPECT_TRUE(live_wait_row(t, "ice:ice-db MySQL", " CRITICAL  ice:ice-db MySQL ", WAIT_MS, 7, 26))
        << tty_screen(t);
    EXPECT_FALSE(shows(t, "?ice")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

// A lone Icinga 2 site is the whole view, its names without a site's: its
// detail screen and an acknowledgement reach it, a stop keeps its items,
// marked, under the line naming it, and a start puts them back.
TEST(SitesLive, ALoneIcingaSiteIsTheWholeView)
{
    LIVE_ICINGA_START(false);
    write_defaults(dir);
    write_file(system_rc_path_in(dir), "default site_timeout = 3s\nsite ice = livestatus:" +
                                           icinga.socket_path() + "\n");
    tty t = tty_start(dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "8 Service Objects")) << tty_screen(t) << tty_stderr(t);
    EXPECT_FALSE(shows(t, "ice:")) << tty_screen(t);

    // The names the site is asked with come from the view's own items.
    ASSERT_NO_FATAL_FAILURE(live_open(t, "ice-db MySQL"));
    tty_type(t, "a");
    ASSERT_NO_FATAL_FAILURE(live_answer(t, "Comment:", "one site, ticket 7"));
    tty_type(t, "q");
    EXPECT_TRUE(live_wait_row(t, "ice-db MySQL", " CRIT/ACK  ice-db MySQL ", 30000))
        << tty_screen(t) << icinga.daemon_log();
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " Detail ")) << tty_screen(t);
    EXPECT_TRUE(tty_wait(t, "one site, ticket 7")) << tty_screen(t);
    tty_type(t, "q");

    icinga.stop();
    ASSERT_TRUE(tty_wait(t, "  site ice: no answer since ")) << tty_screen(t);
    EXPECT_TRUE(live_wait_row(t, "ice-db MySQL", " CRIT/ACK ?ice-db MySQL ", WAIT_MS, 8, 20))
        << tty_screen(t);
    ASSERT_TRUE(icinga.start()) << icinga.daemon_output();
    EXPECT_TRUE(tty_wait_gone(t, "no answer since", 60000)) << tty_screen(t) << icinga.daemon_log();
    EXPECT_TRUE(live_wait_row(t, "ice-db MySQL", " CRIT", WAIT_MS)) << tty_screen(t);
    EXPECT_FALSE(shows(t, "?ice")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

// An acknowledgement and a forced check from the detail screen of an
// Icinga 2 item go to that daemon as COMMAND lines and show in its next
// reply.
TEST(SitesLive, ActionsReachTheIcingaSite)
{
    SITES_LIVE_START(false);
    write_defaults(dir);
    write_file(system_rc_path_in(dir), sites_of(nagios, icinga.socket_path()));
    tty t = tty_start(dir, {"-i", "2"});
    ASSERT_TRUE(tty_wait(t, "16 Service Objects")) << tty_screen(t) << tty_stderr(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());

    ASSERT_NO_FATAL_FAILURE(live_open(t, "ice:ice-db MySQL"));
    log.mark();
    tty_type(t, "a");
    ASSERT_NO_FATAL_FAILURE(live_answer(t, "Comment:", "seen on the wall, ticket 12"));
    ASSERT_TRUE(log.wait("acknowledged")) << printable(log.since());
    // Back on the list, which the filter keeps to that one item.
    tty_type(t, "q");
    EXPECT_TRUE(live_wait_row(t, "ice:ice-db MySQL", " CRIT/ACK  ice:ice-db MySQL ", 30000))
        << tty_screen(t) << icinga.daemon_log();
    const std::string acked =
        icinga.query("GET services\nColumns: acknowledged comments_with_info\n"
                     "Filter: host_name = ice-db\nFilter: description = MySQL\n"
                     "OutputFormat: json\n\n");
    EXPECT_NE(acked.find("seen on the wall, ticket 12"), std::string::npos) << acked;
    // The detail screen asks the site for the comment.
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " Detail ")) << tty_screen(t);
    EXPECT_TRUE(tty_wait(t, "seen on the wall, ticket 12")) << tty_screen(t);
    tty_type(t, "q");

    // Spool has no active checks: only a forced one gives it a state.
    ASSERT_NO_FATAL_FAILURE(live_open(t, "ice:ice-web Spool"));
    tty_type(t, "q");
    ASSERT_TRUE(live_wait_row(t, "ice:ice-web Spool", " PENDING   ice:ice-web Spool ")) << tty_screen(t);
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, " Detail ")) << tty_screen(t);
    log.mark();
    tty_type(t, "c");
    ASSERT_TRUE(log.wait("check scheduled")) << printable(log.since());
    tty_type(t, "q");
    EXPECT_TRUE(live_wait_row(t, "ice:ice-web Spool", " OKAY      ice:ice-web Spool ", 30000))
        << tty_screen(t) << icinga.daemon_log();
    EXPECT_TRUE(tty_wait(t, " OK checked on demand  ")) << tty_screen(t);
    // The console took each command's answer: the daemon never wrote into
    // a connection already closed.
    EXPECT_EQ(icinga.daemon_log().find("Broken pipe"), std::string::npos) << icinga.daemon_log();
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

}  // namespace
