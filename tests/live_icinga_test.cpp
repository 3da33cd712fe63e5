// SPDX-License-Identifier: GPL-2.0-or-later
// Debian's Icinga 2 with its Livestatus listener, asked with raw requests:
// the daemon that the console's Livestatus tests rely on (its objects are
// tests/live/icinga2-objects.conf) answers as those tests expect it to.
#include <ctime>
#include <filesystem>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "live_daemons.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> HOST_COLUMNS = {
    "host_name", "state", "has_been_checked", "acknowledged", "scheduled_downtime_depth",
    "plugin_output", "last_state_change", "host_state"};
const std::vector<std::string> SERVICE_COLUMNS = {
    "host_name", "description", "state", "has_been_checked", "acknowledged",
    "scheduled_downtime_depth", "plugin_output", "last_state_change", "host_state"};

std::string request(const std::string &table, const std::vector<std::string> &columns,
                    const std::string &more = "")
{
    std::string r = "GET " + table + "\nColumns:";
    for (const auto &c : columns)
        r += " " + c;
    return r + "\n" + more + "OutputFormat: json\nResponseHeader: fixed16\n\n";
}

using row = std::map<std::string, std::string>;

// The row of host (and service) among rows, or an empty one.
row find_row(const std::vector<row> &rows, const std::string &host,
             const std::string &service = "")
{
    for (const auto &r : rows)
        if (r.at("host_name") == host && (service.empty() || r.at("description") == service))
            return r;
    return {};
}

long program_start(live_icinga &icinga)
{
    auto rows = live_rows(icinga.query(request("status", {"program_start"})), {"program_start"});
    return rows.size() == 1 ? atol(rows[0]["program_start"].c_str()) : 0;
}

TEST(LiveIcinga, EveryObjectIsInItsConfiguredState)
{
    LIVE_ICINGA_START(false);
    const long started = program_start(icinga);
    ASSERT_GT(started, 0);
    const long now = time(nullptr);

    struct expect_row {
        std::string host, service, state, checked, acknowledged, downtime, output, host_state;
    };
    // ice-behind is UNREACHABLE (2) behind ice-down. What was never checked
    // has the daemon's first state: DOWN (1) for a host, UNKNOWN (3) for a
    // service.
    const expect_row rows[] = {
        {"ice-web", "", "0", "1", "false", "0", "PING OK rta=0.5 ms", "0"},
        {"ice-db", "", "0", "1", "false", "0", "PING OK rta=0.7 ms", "0"},
        {"ice-down", "", "1", "1", "false", "0", "PING CRITICAL all lost", "1"},
        {"ice-behind", "", "2", "1", "false", "0", "PING CRITICAL no route", "2"},
        {"ice-new", "", "1", "0", "false", "0", "", "1"},
        {"ice-web", "HTTP", "0", "1", "false", "0", "HTTP OK 200 size=512 bytes", "0"},
        {"ice-web", "TLS", "0", "1", "false", "0", "gültig, läuft 30 Tage", "0"},
        {"ice-web", "Disk", "1", "1", "false", "0", "DISK WARNING /var at 85 pct", "0"},
        {"ice-web", "Cert", "1", "1", "false", "1", "CERT WARNING expires in 9 days", "0"},
        {"ice-web", "Spool", "3", "0", "false", "0", "", "0"},
        {"ice-db", "MySQL", "2", "1", "false", "0", "CRITICAL   connection   refused", "0"},
        {"ice-db", "Queue", "2", "1", "true", "0", "QUEUE CRITICAL 812 messages waiting", "0"},
        {"ice-db", "Backup", "3", "1", "false", "0", "UNKNOWN no backup log", "0"},
    };
    const std::string host_reply = icinga.query(request("hosts", HOST_COLUMNS));
    const std::string service_reply = icinga.query(request("services", SERVICE_COLUMNS));
    const auto hosts = live_rows(host_reply, HOST_COLUMNS);
    const auto services = live_rows(service_reply, SERVICE_COLUMNS);
    ASSERT_EQ(hosts.size(), 5u) << host_reply;
    ASSERT_EQ(services.size(), 8u) << service_reply;
    // The console reads a large reply in batches, cut where a row ends and
    // the next begins with its name: "]", ",", "[" and a quote, blanks
    // between (the daemon writes all rows on one line).
    for (const auto &[reply, count] : {std::pair{&host_reply, hosts.size()},
                                       std::pair{&service_reply, services.size()}}) {
        int status = 0;
        std::string body;
        ASSERT_TRUE(live_fixed16(*reply, &status, &body)) << *reply;
        const std::regex cut(R"(\]\s*,\s*\[")");
        const auto cuts = std::distance(std::sregex_iterator(body.begin(), body.end(), cut),
                                        std::sregex_iterator());
        EXPECT_EQ(static_cast<size_t>(cuts), count - 1) << body;
    }
    for (const auto &e : rows) {
        SCOPED_TRACE(e.host + " " + e.service);
        row r = e.service.empty() ? find_row(hosts, e.host) : find_row(services, e.host, e.service);
        ASSERT_FALSE(r.empty()) << host_reply << service_reply;
        EXPECT_EQ(r["state"], e.state);
        EXPECT_EQ(r["has_been_checked"], e.checked);
        EXPECT_EQ(r["acknowledged"], e.acknowledged);
        EXPECT_EQ(r["scheduled_downtime_depth"], e.downtime);
        EXPECT_EQ(r["plugin_output"], e.output);
        EXPECT_EQ(r["host_state"], e.host_state);
        // Never checked: no state change yet. Checked: none, or one since
        // the daemon started.
        const long changed = atol(r["last_state_change"].c_str());
        if (e.checked == "0") {
            EXPECT_EQ(changed, 0);
        } else if (changed != 0) {
            EXPECT_GE(changed, started);
            EXPECT_LE(changed, now);
        }
    }

    // The lines after the first and the metrics have columns of their own.
    const std::vector<std::string> text_columns = {"long_plugin_output", "perf_data"};
    auto http = live_rows(icinga.query(request("services", text_columns,
                                               "Filter: host_name = ice-web\n"
                                               "Filter: description = HTTP\n")),
                          text_columns);
    ASSERT_EQ(http.size(), 1u);
    EXPECT_EQ(http[0]["long_plugin_output"], "first extra line\\nsecond extra line");
    EXPECT_EQ(http[0]["perf_data"], "time=0.010s;1;2;0 size=512B;;;0");
}

TEST(LiveIcinga, UnixSocketAndTcpGiveTheSameReply)
{
    LIVE_ICINGA_START(true);
    ASSERT_GT(icinga.tcp_port(), 0);
    for (const auto *columns : {&HOST_COLUMNS, &SERVICE_COLUMNS}) {
        const std::string r = request(columns == &HOST_COLUMNS ? "hosts" : "services", *columns);
        SCOPED_TRACE(r);
        const std::string by_unix = icinga.query(r);
        ASSERT_FALSE(live_rows(by_unix, *columns).empty()) << by_unix;
        EXPECT_EQ(icinga.query_tcp(r), by_unix);
    }
}

// Requests on one kept connection, each answered whole after its fixed16
// header; a request without "KeepAlive: on" is the last one.
TEST(LiveIcinga, KeepAliveAnswersEachQueryOnOneConnection)
{
    LIVE_ICINGA_START(false);
    struct step {
        std::string request;
        int status;
        std::string body_begins;
    };
    const step steps[] = {
        {"GET hosts\nColumns: host_name\nFilter: host_name = ice-web\nKeepAlive: on\n"
         "OutputFormat: json\nResponseHeader: fixed16\n\n",
         200, "[[\"ice-web\"]]"},
        // An error leaves the connection open.
        {"GET hosts\nColumns: host_name nosuch\nKeepAlive: on\nResponseHeader: fixed16\n\n", 452,
         "Error: Column 'nosuch' does not exist in table 'hosts'."},
        {"GET services\nColumns: description\nFilter: description = MySQL\nKeepAlive: on\n"
         "OutputFormat: json\nResponseHeader: fixed16\n\n",
         200, "[[\"MySQL\"]]"},
        {"GET status\nColumns: program_start\nResponseHeader: fixed16\n\n", 200, ""},
    };
    int fd = live_connect_unix(icinga.socket_path());
    ASSERT_GE(fd, 0);
    for (const auto &s : steps) {
        SCOPED_TRACE(s.request);
        ASSERT_TRUE(live_send(fd, s.request));
        const std::string header = live_receive(fd, 16, WAIT_MS);
        ASSERT_EQ(header.size(), 16u) << header;
        const std::string body =
            live_receive(fd, std::stoul(header.substr(4, 11)), WAIT_MS);
        int status = 0;
        std::string whole;
        ASSERT_TRUE(live_fixed16(header + body, &status, &whole)) << header << body;
        EXPECT_EQ(status, s.status) << body;
        EXPECT_EQ(body.rfind(s.body_begins, 0), 0u) << body;
    }
    // The daemon has closed it after the last.
    EXPECT_EQ(live_receive(fd, std::string::npos, WAIT_MS), "");
    close(fd);
}

// What a bad request gets: with fixed16 a status and a message, without it
// nothing at all.
TEST(LiveIcinga, BadRequestsGetAStatusAndAMessage)
{
    LIVE_ICINGA_START(false);
    struct bad {
        std::string request;
        int status;
        std::string body_begins;
    };
    const bad cases[] = {
        {"GET hosts\nColumns: host_name nosuch\nResponseHeader: fixed16\n\n", 452,
         "Error: Column 'nosuch' does not exist in table 'hosts'.\n"},
        // Hosts have no description: that is the services'.
        {"GET hosts\nColumns: description\nResponseHeader: fixed16\n\n", 452,
         "Error: Column 'description' does not exist in table 'hosts'.\n"},
        {"GET nosuch\nResponseHeader: fixed16\n\n", 404, "Table 'nosuch' does not exist."},
        // A header it does not know is passed over.
        {"GET hosts\nColumns: host_name\nFilter: host_name = ice-db\nNoSuch: header\n"
         "ResponseHeader: fixed16\n\n",
         200, "ice-db\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request);
        const std::string reply = icinga.query(c.request);
        int status = 0;
        std::string body;
        ASSERT_TRUE(live_fixed16(reply, &status, &body)) << reply;
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(body.rfind(c.body_begins, 0), 0u) << body;
        // The same without fixed16: no reply.
        std::string plain = c.request;
        plain.erase(plain.find("ResponseHeader: fixed16\n"), 24);
        if (c.status != 200) {
            EXPECT_EQ(icinga.query(plain), "") << plain;
        }
    }
}

// Commands come back in the replies that follow them.
TEST(LiveIcinga, CommandsShowInLaterReplies)
{
    LIVE_ICINGA_START(false);
    const std::vector<std::string> columns = {"acknowledged", "has_been_checked", "plugin_output"};
    auto service = [&](const std::string &host, const std::string &description) {
        return request("services", columns,
                       "Filter: host_name = " + host + "\nFilter: description = " + description + "\n");
    };
    auto first = [&](const std::string &reply) {
        auto rows = live_rows(reply, columns);
        return rows.size() == 1 ? rows[0] : row();
    };

    ASSERT_TRUE(icinga.command("ACKNOWLEDGE_SVC_PROBLEM;ice-db;MySQL;2;0;1;tester;looked at"));
    std::string seen;
    EXPECT_TRUE(icinga.wait_for(service("ice-db", "MySQL"),
                                [&](const std::string &r) { return first(r)["acknowledged"] == "true"; },
                                30000, &seen))
        << seen << icinga.daemon_log();
    // The acknowledgement's comment, beside the one of ice-db Queue.
    const std::vector<std::string> comment_columns = {"host_name", "service_description", "author",
                                                      "comment", "entry_type", "is_service"};
    auto comments = live_rows(icinga.query(request("comments", comment_columns,
                                                   "Filter: service_description = MySQL\n")),
                              comment_columns);
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0], (row{{"host_name", "ice-db"}, {"service_description", "MySQL"},
                                {"author", "tester"}, {"comment", "looked at"},
                                {"entry_type", "4"}, {"is_service", "1"}}));

    // Spool has no active checks: only a forced check runs it.
    ASSERT_EQ(first(icinga.query(service("ice-web", "Spool")))["has_been_checked"], "0");
    ASSERT_TRUE(icinga.command("SCHEDULE_FORCED_SVC_CHECK;ice-web;Spool;" +
                               std::to_string(time(nullptr))));
    EXPECT_TRUE(icinga.wait_for(service("ice-web", "Spool"),
                                [&](const std::string &r) {
                                    return first(r)["plugin_output"] == "SPOOL OK checked on demand";
                                },
                                30000, &seen))
        << seen << icinga.daemon_log();
    EXPECT_EQ(first(seen)["has_been_checked"], "1");
}

// Stopped, the daemon is gone with every process of its run directory and
// its sockets refuse; started again on the same directory, it answers on
// both with the acknowledgement and the downtime it had.
TEST(LiveIcinga, StopsAndStartsAgainOnItsState)
{
    LIVE_ICINGA_START(true);
    const long first_start = program_start(icinga);
    ASSERT_GT(first_start, 0);
    const std::string status = request("status", {"program_start"});
    ASSERT_NE(icinga.query_tcp(status), "");

    icinga.stop();
    EXPECT_FALSE(icinga.running());
    EXPECT_TRUE(harness_poll([&] { return live_processes_of(icinga.run_dir()).empty(); }))
        << live_processes_of(icinga.run_dir()).size() << " left";
    EXPECT_EQ(live_connect_unix(icinga.socket_path()), -1);
    EXPECT_EQ(live_connect_tcp(icinga.tcp_port()), -1);

    // A later second, so that the new start shows.
    ASSERT_TRUE(harness_poll([&] { return time(nullptr) > first_start; }));
    ASSERT_TRUE(icinga.start());
    ASSERT_TRUE(icinga.wait_ready(60000)) << icinga.daemon_output() << icinga.daemon_log();
    EXPECT_GT(program_start(icinga), first_start);
    auto rows = live_rows(icinga.query_tcp(request("services", SERVICE_COLUMNS)), SERVICE_COLUMNS);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(find_row(rows, "ice-db", "Queue")["acknowledged"], "true");
    EXPECT_EQ(find_row(rows, "ice-web", "Cert")["scheduled_downtime_depth"], "1");
    // Sent once, at the first start: the daemon kept them.
    for (const std::string table : {"comments", "downtimes"}) {
        const std::vector<std::string> columns = {"host_name", "service_description"};
        auto notes = live_rows(icinga.query(request(table, columns)), columns);
        ASSERT_EQ(notes.size(), 1u) << table;
        EXPECT_EQ(notes[0]["service_description"], table == "comments" ? "Queue" : "Cert");
    }
}

}  // namespace
