// SPDX-License-Identifier: GPL-2.0-or-later
// Item completion in-process: state names, levels and counts, the PENDING
// rules (the daemon's never-checked objects included), durations and
// last-change texts, and the real Nagios 4 status file.
#include "status_support.h"

#include <climits>
#include <cstring>
#include <random>

#include "status/status_private.h"

namespace {

const long CREATED = 1700000000;  // Tue Nov 14 22:13:20 2023 UTC

std::string host_text(const std::string &name, const std::string &state, const std::string &output,
                      const std::string &change, const std::string &checked = "1")
{
    return "hoststatus {\n\thost_name=" + name + "\n\thas_been_checked=" + checked +
           "\n\tcurrent_state=" + state + "\n\tplugin_output=" + output +
           "\n\tlast_state_change=" + change + "\n\t}\n";
}

std::string service_text(const std::string &host, const std::string &desc, const std::string &state,
                         const std::string &output, const std::string &change,
                         const std::string &checked = "1")
{
    return "servicestatus {\n\thost_name=" + host + "\n\tservice_description=" + desc +
           "\n\thas_been_checked=" + checked + "\n\tcurrent_state=" + state +
           "\n\tlast_state_change=" + change + "\n\tplugin_output=" + output + "\n\t}\n";
}

struct item_view {
    std::string state, change, duration, output;
    long since;
    int level;
};

item_view host_view(int i)
{
    const item &it = host_list[i];
    return {status_str(it.current_state), status_str(it.last_change), status_str(it.duration),
            status_str(it.plugin_output), static_cast<long>(it.last_state_change),
            host_idx_to_level[i]};
}

item_view service_view(int i)
{
    const item &it = service_list[i];
    return {status_str(it.current_state), status_str(it.last_change), status_str(it.duration),
            status_str(it.plugin_output), static_cast<long>(it.last_state_change),
            service_idx_to_level[i]};
}

std::string duration_of(int since)
{
    char *p = calc_duration(since);
    std::string s = p;
    free(p);
    return s;
}

TEST(StatusComplete, ConvertLevelComparesWholeCaseSensitiveTexts)
{
    const std::vector<std::pair<const char *, int>> cases = {
        {"UP", 0},      {"OKAY", 0},    {"DOWN", 2},  {"CRITICAL", 2}, {"WARNING", 1},
        {"UNKNOWN", 1}, {"PENDING", 1}, {"up", 1},    {"Down", 1},     {"UP ", 1},
        {"", 1},        {nullptr, 1},
    };
    for (const auto &[text, level] : cases)
        EXPECT_EQ(convert_level(text), level) << status_str(text);
}

TEST(StatusComplete, DurationsMatchTheWorkedValues)
{
    status_enter();
    last_update_int = 1000000;
    const std::vector<std::pair<int, const char *>> worked = {
        {0, "0m 0s"},       {59, "0m 59s"},   {3599, "59m 59s"}, {3600, "1h 0m"},
        {86399, "23h 59m"}, {86400, "1d 0h"}, {-5, "0m -5s"},    {-61, "-1m -1s"},
        {-3600, "-60m 0s"}, {-86400 * 3, "-4320m 0s"},
    };
    for (const auto &[d, text] : worked)
        EXPECT_EQ(duration_of(last_update_int - d), text) << d;

    // More worked values of each form.
    for (const auto &[d, text] : std::vector<std::pair<int, const char *>>{
             {61, "1m 1s"}, {3661, "1h 1m"}, {90061, "1d 1h"}, {-59, "0m -59s"}}) {
        last_update_int = 1000000;
        EXPECT_EQ(duration_of(last_update_int - d), text) << d;
    }

    // The difference wraps as a 32-bit number: worked by hand, e.g.
    // INT_MAX - (-1) wraps to INT_MIN, -2147483648 s = -35791394 m -8 s, and
    // 2147483647 s = 24855 d 11647 s = 24855 d 3 h.
    struct wrap_case {
        int last, since;
        const char *text;
    };
    const wrap_case wraps[] = {
        {INT_MIN, INT_MIN, "0m 0s"},
        {INT_MAX, INT_MIN, "0m -1s"},
        {INT_MIN, INT_MAX, "0m 1s"},
        {INT_MIN + 1, INT_MAX, "0m 2s"},
        {-1, 0, "0m -1s"},
        {INT_MIN, 1, "24855d 3h"},
        {INT_MAX, 0, "24855d 3h"},
        {0, INT_MIN + 1, "24855d 3h"},
        {INT_MAX, -1, "-35791394m -8s"},
        {0, INT_MIN, "-35791394m -8s"},
        {-1, INT_MAX, "-35791394m -8s"},
        {1, INT_MIN + 1, "-35791394m -8s"},
    };
    for (const wrap_case &c : wraps) {
        last_update_int = c.last;
        EXPECT_EQ(duration_of(c.since), c.text) << c.last << " " << c.since;
    }
}

TEST(StatusComplete, StateNamesLevelsAndCounts)
{
    status_enter();
    std::string stanzas;
    const char *host_states[] = {"0", "1", "2", "10", "", "x1", "-0", "01"};
    for (const char *s : host_states)
        stanzas += host_text(std::string("h") + s, s, "out", "100");
    const char *service_states[] = {"0", "1", "2", "3", "4", "", "37", " 0"};
    for (const char *s : service_states)
        stanzas += service_text("h", std::string("s") + s, s, "out", "100");
    status_write(status_file(CREATED, stanzas));
    read_status();

    const char *host_names[] = {"UP", "DOWN", "(null)", "DOWN", "(null)", "(null)", "(null)", "UP"};
    const int host_levels[] = {0, 2, 1, 2, 1, 1, 1, 0};
    ASSERT_EQ(host_list_size, 8);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(status_str(host_list[i].current_state), host_names[i]) << host_states[i];
        EXPECT_EQ(host_idx_to_level[i], host_levels[i]) << host_states[i];
    }
    EXPECT_EQ(num_up, 2);
    EXPECT_EQ(num_down, 2);

    const char *service_names[] = {"OKAY", "WARNING", "CRITICAL", "UNKNOWN",
                                   "(null)", "(null)", "UNKNOWN", "(null)"};
    const int service_levels[] = {0, 1, 2, 1, 1, 1, 1, 1};
    ASSERT_EQ(service_list_size, 8);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(status_str(service_list[i].current_state), service_names[i]) << service_states[i];
        EXPECT_EQ(service_idx_to_level[i], service_levels[i]) << service_states[i];
    }
    EXPECT_EQ(num_okay, 1);
    EXPECT_EQ(num_warn, 6);
    EXPECT_EQ(num_crit, 1);
    EXPECT_EQ(num_okay + num_warn + num_crit, service_list_size);
    EXPECT_STREQ(service_list[0].service_description, "h s0");
    EXPECT_STREQ(service_list[0].host_name, "h");
    EXPECT_STREQ(host_list[0].host_name, "h0");
}

TEST(StatusComplete, PendingByTheDaemonsOwnMarks)
{
    status_enter();
    const std::string epoch = status_ctime16(0);
    const std::string long_ago = "19675d 22h";  // 1700000000 s = 19675 d 80000 s
    std::string stanzas =
        // never given a time nor an output
        host_text("pending", "0", "", "0", "") +
        // any output keeps it UP, since 1970
        host_text("up-1970", "0", "x", "0", "") +
        // a time keeps it UP with an empty output
        host_text("up-empty", "0", "", "60", "") +
        service_text("h", "pending", "2", "(Service assumed to be ok)", "0", "") +
        service_text("h", "other-output", "2", "(Service assumed to be ok) ", "0", "") +
        service_text("h", "has-time", "1", "(Service assumed to be ok)", "5", "") +
        // a time that is not a number reads as 0
        service_text("h", "bad-time", "0", "(Service assumed to be ok)", "soon", "");
    // The stanzas above have an empty has_been_checked value: not a 0.
    status_write(status_file(CREATED, stanzas));
    read_status();
    ASSERT_EQ(host_list_size, 3);
    ASSERT_EQ(service_list_size, 4);

    item_view v = host_view(0);
    EXPECT_EQ(v.state, "PENDING");
    EXPECT_EQ(v.output, "(Host assumed to be up)");
    EXPECT_EQ(v.change, " not applicable ");
    EXPECT_EQ(v.duration, "0m 0s");
    EXPECT_EQ(v.since, CREATED);
    EXPECT_EQ(v.level, 1);

    v = host_view(1);
    EXPECT_EQ(v.state, "UP");
    EXPECT_EQ(v.change, epoch);
    EXPECT_EQ(v.duration, long_ago);
    EXPECT_EQ(v.since, 0);
    v = host_view(2);
    EXPECT_EQ(v.state, "UP");
    EXPECT_EQ(v.output, "");
    EXPECT_EQ(v.change, status_ctime16(60));
    EXPECT_EQ(num_up, 2);
    EXPECT_EQ(num_down, 0);

    v = service_view(0);
    EXPECT_EQ(v.state, "PENDING");
    EXPECT_EQ(v.output, "(Service assumed to be ok)");
    EXPECT_EQ(v.change, " not applicable ");
    EXPECT_EQ(v.duration, "0m 0s");
    EXPECT_EQ(v.since, CREATED);
    EXPECT_EQ(v.level, 1);
    v = service_view(1);
    EXPECT_EQ(v.state, "CRITICAL");
    EXPECT_EQ(v.change, epoch);
    v = service_view(2);
    EXPECT_EQ(v.state, "WARNING");
    EXPECT_EQ(v.change, status_ctime16(5));
    EXPECT_EQ(v.duration, "19675d 22h");  // 1699999995 s = 19675 d 79995 s
    v = service_view(3);
    EXPECT_EQ(v.state, "PENDING");
    EXPECT_EQ(num_okay, 0);
    EXPECT_EQ(num_warn, 3);
    EXPECT_EQ(num_crit, 1);
}

// The daemon marks an object that was never checked with has_been_checked=0
// before its current_state, and may give it a time and no output text.
TEST(StatusComplete, NeverCheckedObjectsArePending)
{
    status_enter();
    std::string stanzas =
        host_text("unchecked", "0", "", "1699999000", "0") +
        host_text("unchecked-output", "1", "no output yet", "1699999000", "0") +
        host_text("checked", "0", "", "1699999000", "1") +
        // the mark after the last key is passed over with the rest
        host_text("late-mark", "0", "fine", "1699999000", "1") +
        service_text("h", "unchecked", "2", "", "0", "0") +
        service_text("h", "unchecked-time", "0", "waiting", "1699999000", " 0") +
        service_text("h", "checked", "0", "", "0", "1") +
        service_text("h", "no-digits", "0", "", "0", "none");
    // has_been_checked=0 standing after the last key of a host stanza.
    const std::string late = "\tlast_state_change=1699999000\n";
    stanzas.replace(stanzas.find(late, stanzas.find("late-mark")), late.size(),
                    late + "\thas_been_checked=0\n");
    status_write(status_file(CREATED, stanzas));
    read_status();
    ASSERT_EQ(host_list_size, 4);
    ASSERT_EQ(service_list_size, 4);

    for (int i : {0, 1}) {
        item_view v = host_view(i);
        EXPECT_EQ(v.state, "PENDING") << i;
        EXPECT_EQ(v.output, "(Host assumed to be up)") << i;
        EXPECT_EQ(v.change, " not applicable ");
        EXPECT_EQ(v.duration, "0m 0s");
        EXPECT_EQ(v.since, CREATED);
        EXPECT_EQ(v.level, 1);
    }
    EXPECT_EQ(host_view(2).state, "UP");
    EXPECT_EQ(host_view(2).change, status_ctime16(1699999000));
    EXPECT_EQ(host_view(2).duration, "16m 40s");
    EXPECT_EQ(host_view(3).state, "UP");
    EXPECT_EQ(num_up, 2);
    EXPECT_EQ(num_down, 0);

    for (int i : {0, 1}) {
        item_view v = service_view(i);
        EXPECT_EQ(v.state, "PENDING") << i;
        EXPECT_EQ(v.change, " not applicable ");
        EXPECT_EQ(v.duration, "0m 0s");
        EXPECT_EQ(v.since, CREATED);
    }
    EXPECT_EQ(service_view(0).output, "");
    EXPECT_EQ(service_view(1).output, "waiting");
    EXPECT_EQ(service_view(2).state, "OKAY");
    EXPECT_EQ(service_view(2).change, status_ctime16(0));
    EXPECT_EQ(service_view(3).state, "OKAY");
    EXPECT_EQ(num_okay, 2);
    EXPECT_EQ(num_warn, 2);
    EXPECT_EQ(num_crit, 0);
}

TEST(StatusComplete, DurationsFromTheFilesCreationTime)
{
    status_enter();
    const std::vector<std::pair<long, const char *>> cases = {
        {CREATED + 60, "-1m 0s"}, {CREATED - 3599, "59m 59s"}, {CREATED - 3600, "1h 0m"},
        {CREATED - 86399, "23h 59m"}, {CREATED - 86400, "1d 0h"}, {CREATED, "0m 0s"},
    };
    std::string stanzas;
    for (const auto &[since, text] : cases)
        stanzas += host_text("h", "0", "ok", std::to_string(since)) +
                   service_text("h", "s", "0", "ok", std::to_string(since));
    status_write(status_file(CREATED, stanzas));
    read_status();
    ASSERT_EQ(host_list_size, static_cast<int>(cases.size()));
    for (size_t i = 0; i < cases.size(); i++) {
        EXPECT_STREQ(host_list[i].duration, cases[i].second);
        EXPECT_STREQ(service_list[i].duration, cases[i].second);
        EXPECT_EQ(host_list[i].last_change, status_ctime16(cases[i].first));
        EXPECT_EQ(strlen(service_list[i].last_change), 16u);
    }
}

// The last-change text is built without ctime() per item; it must be
// exactly what ctime() gives, in every zone.
TEST(StatusComplete, LastChangeTextIsCtimeInLocalTime)
{
    status_enter();
    const char *zones[] = {"UTC",
                           "America/New_York",
                           "Europe/Amsterdam",
                           "Australia/Lord_Howe",
                           "Asia/Kathmandu",
                           "Pacific/Chatham",
                           "America/St_Johns",
                           "Africa/Monrovia",
                           "right/UTC",
                           "EST5EDT,M3.2.0,M11.1.0",
                           "<+0530>-5:30"};
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::vector<int> times = {INT_MIN, INT_MIN + 59, -1, 0, 1, 59, 60, INT_MAX - 60, INT_MAX};
    for (int k = 0; k < 60000; k++)
        times.push_back(any(gen));
    // Around transitions: every 7 minutes through two years.
    for (int t = 1699999999 - 366 * 86400; t < 1699999999 + 366 * 86400; t += 7 * 60 + 13)
        times.push_back(t);
    for (const char *zone : zones) {
        setenv("TZ", zone, 1);
        complete_start();
        for (int t : times) {
            char text[17];
            status_change_text(t, text);
            ASSERT_EQ(std::string(text), status_ctime16(t)) << zone << " " << t;
        }
    }
    setenv("TZ", "UTC", 1);
    tzset();
}

TEST(StatusComplete, ReadInAnotherZoneGivesItsLocalTimes)
{
    status_enter();
    setenv("TZ", "America/New_York", 1);
    status_write(status_file(CREATED, host_text("h", "0", "ok", "1699000000") +
                                          service_text("h", "s", "0", "ok", "1689000000")));
    read_status();
    EXPECT_STREQ(last_update, "Tue Nov 14 17:13:20");
    EXPECT_STREQ(host_list[0].last_change, "Fri Nov  3 04:26");
    EXPECT_STREQ(service_list[0].last_change, "Mon Jul 10 10:40");
    setenv("TZ", "UTC", 1);
    tzset();
}

// Counted with care from the file itself: 40 hosts (30 UP, 5 DOWN, 2 with
// state 2, 3 never checked), 320 services (205 OK, 39 WARNING, 28 CRITICAL,
// 12 UNKNOWN, 36 never checked, one of them with state 2).
TEST(StatusComplete, RealNagios4File)
{
    const std::string dir = status_enter();
    write_file(status_path(dir), read_file(real_status_path()));
    read_status();
    EXPECT_EQ(last_update_int, 1796851832);
    EXPECT_EQ(host_list_size, 40);
    EXPECT_EQ(num_up, 30);
    EXPECT_EQ(num_down, 5);
    EXPECT_EQ(service_list_size, 320);
    EXPECT_EQ(num_okay, 205);
    EXPECT_EQ(num_warn, 39 + 12 + 36);
    EXPECT_EQ(num_crit, 28);
    EXPECT_EQ(line, 20624);

    int pending_hosts = 0, absent_hosts = 0, pending_services = 0, unknown = 0;
    for (int i = 0; i < host_list_size; i++) {
        std::string state = status_str(host_list[i].current_state);
        pending_hosts += state == "PENDING";
        absent_hosts += state == "(null)";
        if (state == "PENDING") {
            EXPECT_STREQ(host_list[i].plugin_output, "(Host assumed to be up)");
            EXPECT_STREQ(host_list[i].last_change, " not applicable ");
            EXPECT_STREQ(host_list[i].duration, "0m 0s");
            EXPECT_EQ(std::string(host_list[i].host_name).rfind("cache-0", 0), 0u);
        }
    }
    for (int i = 0; i < service_list_size; i++) {
        std::string state = status_str(service_list[i].current_state);
        pending_services += state == "PENDING";
        unknown += state == "UNKNOWN";
        EXPECT_EQ(strlen(service_list[i].last_change), 16u);
    }
    EXPECT_EQ(pending_hosts, 3);
    EXPECT_EQ(absent_hosts, 2);
    EXPECT_EQ(pending_services, 36);
    EXPECT_EQ(unknown, 12);

    EXPECT_STREQ(host_list[0].host_name, "app-01");
    EXPECT_STREQ(host_list[0].plugin_output, "PING WARNING - Packet loss = 30%, RTA = 212.05 ms");
    EXPECT_STREQ(host_list[0].last_change, "Wed Dec  9 21:29");
    EXPECT_STREQ(host_list[0].duration, "0m 59s");
    EXPECT_STREQ(service_list[0].service_description, "app-01 App health");

    // Texts of every length come through whole, or cut at the 1023rd
    // character of their line.
    bool utf8 = false;
    size_t longest = 0;
    for (int i = 0; i < service_list_size; i++) {
        utf8 |= strstr(service_list[i].service_description, "Temperatur Geh\xc3\xa4use") != nullptr;
        longest = std::max(longest, strlen(service_list[i].plugin_output));
    }
    EXPECT_TRUE(utf8);
    EXPECT_EQ(longest, 1023u - strlen("\tplugin_output="));
}

}  // namespace
