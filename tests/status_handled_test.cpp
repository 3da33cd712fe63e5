// SPDX-License-Identifier: GPL-2.0-or-later
// Handled problems in-process: the acknowledgement and downtime marks
// wherever a stanza gives them, the service's link to its host, the state
// texts with their marks, and the times of objects checked only once.
#include "status_support.h"

#include "frame/frame.h"
#include "screen/screen.h"

namespace {

const std::string HEAD = "info {\n\tcreated=100000\n\t}\n";
const std::string PROGRAM = "programstatus {\n\tnagios_pid=1\n\tprogram_start=92800\n\t}\n";

// A stanza of the given kind with the lines given before the first searched
// key, between the searched keys (after the state) and after the last one.
std::string host_lines(const std::string &name, int state, const std::string &before,
                       const std::string &between, const std::string &after,
                       const std::string &output = "out", long change = 99000)
{
    return "hoststatus {\n" + before + "\thost_name=" + name + "\n\tcurrent_state=" +
           std::to_string(state) + "\n" + between + "\tplugin_output=" + output +
           "\n\tlast_state_change=" + std::to_string(change) + "\n" + after + "\t}\n";
}

std::string service_lines(const std::string &host, const std::string &description, int state,
                          const std::string &before, const std::string &between,
                          const std::string &after, long change = 99000,
                          const std::string &output = "out")
{
    return "servicestatus {\n" + before + "\thost_name=" + host + "\n\tservice_description=" +
           description + "\n\tcurrent_state=" + std::to_string(state) + "\n" + between +
           "\tlast_state_change=" + std::to_string(change) + "\n\tplugin_output=" + output +
           "\n" + after + "\t}\n";
}

// The last-change texts of 0 and 99000 in UTC, worked by hand.
const std::string EPOCH_TEXT = "Thu Jan  1 00:00";

const std::string ACK = "\tproblem_has_been_acknowledged=1\n";
const std::string DT = "\tscheduled_downtime_depth=1\n";

struct marks_case {
    const char *what;
    std::string before, between, after;
    unsigned char marks;
};

TEST(StatusHandled, MarksAreReadWhereverTheStanzaGivesThem)
{
    const std::vector<marks_case> cases = {
        {"absent", "", "", "", 0},
        {"ack before", ACK, "", "", MARK_ACK},
        {"ack between", "", ACK, "", MARK_ACK},
        {"ack after the last searched key", "", "", ACK, MARK_ACK},
        {"downtime before", DT, "", "", MARK_DOWNTIME},
        {"downtime between", "", DT, "", MARK_DOWNTIME},
        {"downtime after", "", "", DT, MARK_DOWNTIME},
        {"both", ACK, "", DT, MARK_ACK | MARK_DOWNTIME},
        {"zero values", "\tproblem_has_been_acknowledged=0\n", "", "\tscheduled_downtime_depth=0\n", 0},
        {"ack of any other number", "", "", "\tproblem_has_been_acknowledged=-2\n", MARK_ACK},
        {"downtime depth 3", "", "", "\tscheduled_downtime_depth=3\n", MARK_DOWNTIME},
        {"negative depth", "", "", "\tscheduled_downtime_depth=-1\n", 0},
        {"not numbers", "\tproblem_has_been_acknowledged=yes\n", "",
         "\tscheduled_downtime_depth=deep\n", 0},
        {"empty values", "\tproblem_has_been_acknowledged=\n", "", "\tscheduled_downtime_depth=\n", 0},
        {"a key of a longer name", "", "", "\tproblem_has_been_acknowledged_x=1\n", 0},
    };
    status_enter();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        status_write(HEAD + host_lines("h", 1, c.before, c.between, c.after) +
                     service_lines("h2", "s", 2, c.before, c.between, c.after));
        status_refresh();
        ASSERT_EQ(host_list_size, 1);
        ASSERT_EQ(service_list_size, 1);
        EXPECT_EQ(host_idx_to_marks[0], c.marks);
        EXPECT_EQ(service_idx_to_marks[0], c.marks);
        // The marks change neither state, level nor counts.
        EXPECT_EQ(status_str(host_list[0].current_state), "DOWN");
        EXPECT_EQ(num_down, 1);
        EXPECT_EQ(num_crit, 1);
    }
}

TEST(StatusHandled, MarksStayWithTheirOwnStanza)
{
    status_enter();
    // A mark after one stanza's brace belongs to no stanza; a mark of the
    // first stanza does not reach the next one.
    status_write(HEAD + host_lines("a", 1, "", "", ACK) + DT + host_lines("b", 1, "", "", "") +
                 "programstatus {\n" + ACK + "\t}\n" + service_lines("a", "s", 2, "", "", DT) +
                 service_lines("a", "t", 2, "", "", ""));
    status_refresh();
    status_need_links();
    ASSERT_EQ(host_list_size, 2);
    EXPECT_EQ(host_idx_to_marks[0], MARK_ACK);
    EXPECT_EQ(host_idx_to_marks[1], 0);
    ASSERT_EQ(service_list_size, 2);
    EXPECT_EQ(service_idx_to_marks[0] & (MARK_ACK | MARK_DOWNTIME), MARK_DOWNTIME);
    EXPECT_EQ(service_idx_to_marks[1] & (MARK_ACK | MARK_DOWNTIME), 0);
}

struct link_case {
    const char *what;
    std::string hosts_before;  // host stanzas before the service
    std::string hosts_after;   // host stanzas after it
    std::string service_extra; // lines of the service after its last key
    bool handled;
};

TEST(StatusHandled, AServiceIsHandledByItsOwnMarksOrItsHostsState)
{
    auto host = [](const std::string &name, int state, const std::string &after = "",
                   const std::string &output = "out") {
        return host_lines(name, state, "", "", after, output);
    };
    // has_been_checked=0: the host is PENDING.
    const std::string pending =
        host_lines("h", 0, "\thas_been_checked=0\n", "", "");
    const std::vector<link_case> cases = {
        {"host UP", host("h", 0), "", "", false},
        {"host DOWN", host("h", 1), "", "", true},
        {"host UNREACHABLE (no state name)", host("h", 2), "", "", true},
        {"host of an unknown state number", host("h", 7), "", "", true},
        {"host PENDING", pending, "", "", false},
        {"host DOWN and acknowledged", host("h", 1, ACK), "", "", true},
        {"no host stanza", host("other", 1), "", "", false},
        {"host stanza after the service", "", host("h", 1), "", true},
        {"first stanza of the name UP, a later one DOWN", host("h", 0), host("h", 1), "", false},
        {"first stanza of the name DOWN, a later one UP", host("h", 1), host("h", 0), "", true},
        {"UP host, service acknowledged", host("h", 0), "", ACK, true},
        {"UP host, service in downtime", host("h", 0), "", DT, true},
        {"a host of a longer name DOWN", host("hh", 1) + host("h", 0), "", "", false},
    };
    status_enter();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        // A second service of another host stands between, and a third of
        // the same host after it: the answer for one host is not another's.
        status_write(HEAD + c.hosts_before + service_lines("h", "s", 2, "", "", c.service_extra) +
                     service_lines("x", "s", 2, "", "", "") +
                     service_lines("h", "t", 2, "", "", "") + c.hosts_after);
        status_refresh();
        status_need_links();
        ASSERT_EQ(service_list_size, 3);
        EXPECT_EQ(service_idx_to_marks[0] != 0, c.handled);
        EXPECT_EQ(service_idx_to_marks[1], 0);  // host x has no stanza
        // Through the host alone: no mark of its own.
        bool via_host = c.service_extra.empty() && c.handled;
        EXPECT_EQ(service_idx_to_marks[2], via_host ? MARK_HOST : 0);
    }
}

TEST(StatusHandled, HostsAreHandledByTheirOwnMarksAlone)
{
    status_enter();
    status_write(HEAD + host_lines("a", 1, "", "", "") + host_lines("b", 1, "", "", ACK) +
                 host_lines("c", 0, DT, "", "") + host_lines("d", 2, "", "", ""));
    status_refresh();
    ASSERT_EQ(host_list_size, 4);
    EXPECT_EQ(host_idx_to_marks[0], 0);
    EXPECT_EQ(host_idx_to_marks[1], MARK_ACK);
    EXPECT_EQ(host_idx_to_marks[2], MARK_DOWNTIME);
    EXPECT_EQ(host_idx_to_marks[3], 0);
}

TEST(StatusHandled, StateTextsCarryTheirMarks)
{
    struct mark_case {
        const char *state;  // nullptr: no state name
        unsigned char marks;
        const char *text;
    };
    const mark_case cases[] = {
        {"CRITICAL", MARK_ACK, "CRIT/ACK "},
        {"WARNING", MARK_DOWNTIME, "WARN/DT  "},
        {"DOWN", MARK_ACK, "DOWN/ACK "},
        {"OKAY", MARK_DOWNTIME, "OKAY/DT  "},
        {"UP", MARK_DOWNTIME, "UP/DT    "},
        {"PENDING", MARK_DOWNTIME, "PEND/DT  "},
        {"UNKNOWN", MARK_ACK | MARK_DOWNTIME, "UNKN/DT  "},  // downtime wins
        {nullptr, MARK_ACK, "/ACK     "},
        {nullptr, MARK_DOWNTIME, "/DT      "},
        {"CRITICAL", MARK_HOST, "CRITICAL "},  // handled through the host only
        {"CRITICAL", MARK_HOST | MARK_ACK, "CRIT/ACK "},
        {"CRITICAL", 0, "CRITICAL "},
        {nullptr, 0, "         "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.state ? c.state : "(none)") + " " + std::to_string(c.marks));
        EXPECT_EQ(draw_marked_state(c.state, c.marks), c.text);
    }
}

struct time_case {
    const char *what;
    std::string program;   // the program stanza, or ""
    std::string checked;   // has_been_checked line(s) before the searched keys
    std::string after;     // lines after the last searched key
    long change;
    std::string output;
    const char *state;     // host state name
    long since;            // last_state_change as kept
    std::string last_change;
    std::string duration;
};

TEST(StatusHandled, ObjectsCheckedOnceLastSinceTheDaemonStarted)
{
    const std::string checked = "\thas_been_checked=1\n";
    const std::string na = " not applicable ";
    const std::vector<time_case> cases = {
        {"checked, 0, start given", PROGRAM, checked, "", 0, "out", "DOWN", 92800, na, "2h 0m+"},
        {"checked by another number", PROGRAM, "\thas_been_checked=7\n", "", 0, "out", "DOWN",
         92800, na, "2h 0m+"},
        {"checked, empty output: stays DOWN", PROGRAM, checked, "", 0, "", "DOWN", 92800, na,
         "2h 0m+"},
        {"checked, empty output, no start: stays DOWN, 1970", "", checked, "", 0, "", "DOWN", 0,
         EPOCH_TEXT, "1d 3h"},
        {"checked, a change of its own", PROGRAM, checked, "", 99000, "out", "DOWN", 99000,
         "Fri Jan  2 03:30", "16m 40s"},
        {"checked, no program stanza", "", checked, "", 0, "out", "DOWN", 0, EPOCH_TEXT,
         "1d 3h"},
        {"checked, program stanza without a start", "programstatus {\n\tnagios_pid=1\n\t}\n",
         checked, "", 0, "out", "DOWN", 0, EPOCH_TEXT, "1d 3h"},
        {"checked, start 0", "programstatus {\n\tprogram_start=0\n\t}\n", checked, "", 0, "out",
         "DOWN", 0, EPOCH_TEXT, "1d 3h"},
        {"no has_been_checked", PROGRAM, "", "", 0, "out", "DOWN", 0, EPOCH_TEXT, "1d 3h"},
        {"has_been_checked not a number", PROGRAM, "\thas_been_checked=yes\n", "", 0, "out",
         "DOWN", 0, EPOCH_TEXT, "1d 3h"},
        {"has_been_checked after the last searched key", PROGRAM, "", checked, 0, "out", "DOWN",
         0, EPOCH_TEXT, "1d 3h"},
        {"has_been_checked after the last key, empty output: PENDING", PROGRAM, "", checked, 0,
         "", "PENDING", 100000, na, "0m 0s"},
        {"unchecked: PENDING as before", PROGRAM, "\thas_been_checked=0\n", "", 0, "out",
         "PENDING", 100000, na, "0m 0s"},
    };
    status_enter();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        status_write(HEAD + c.program +
                     host_lines("h", 1, c.checked, "", c.after, c.output, c.change));
        status_refresh();
        ASSERT_EQ(host_list_size, 1);
        const item &it = host_list[0];
        EXPECT_EQ(status_str(it.current_state), c.state);
        EXPECT_EQ(it.last_state_change, c.since);
        EXPECT_EQ(status_str(it.last_change), c.last_change);
        EXPECT_EQ(status_str(it.duration), c.duration);
    }
}

TEST(StatusHandled, ServicesCheckedOnceLastSinceTheDaemonStarted)
{
    const std::string checked = "\thas_been_checked=1\n";
    const std::string na = " not applicable ";
    const std::string assumed = "(Service assumed to be ok)";
    struct service_time_case {
        const char *what;
        std::string program, before, before_output;  // lines before the first key / before plugin_output
        std::string output;
        const char *state;
        long since;
        std::string last_change, duration;
    };
    const std::vector<service_time_case> cases = {
        {"checked, start given", PROGRAM, checked, "", "out", "CRITICAL", 92800, na, "2h 0m+"},
        // Between last_state_change and plugin_output: still before the last key.
        {"checked between the last two keys", PROGRAM, "", checked, "out", "CRITICAL", 92800, na,
         "2h 0m+"},
        {"checked, assumed output: not PENDING", PROGRAM, checked, "", assumed, "CRITICAL",
         92800, na, "2h 0m+"},
        {"not checked, assumed output: PENDING", PROGRAM, "", "", assumed, "PENDING", 100000, na,
         "0m 0s"},
        {"checked, no start", "", checked, "", "out", "CRITICAL", 0, EPOCH_TEXT, "1d 3h"},
        {"unchecked", PROGRAM, "\thas_been_checked=0\n", "", "out", "PENDING", 100000, na,
         "0m 0s"},
    };
    status_enter();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string stanza = service_lines("h", "s", 2, c.before, "", "", 0, c.output);
        stanza.insert(stanza.find("\tplugin_output="), c.before_output);
        status_write(HEAD + c.program + stanza);
        status_refresh();
        ASSERT_EQ(service_list_size, 1);
        const item &it = service_list[0];
        EXPECT_EQ(status_str(it.current_state), c.state);
        EXPECT_EQ(it.last_state_change, c.since);
        EXPECT_EQ(status_str(it.last_change), c.last_change);
        EXPECT_EQ(status_str(it.duration), c.duration);
    }
}

TEST(StatusHandled, TheRealStatusFileHoldsHandledObjects)
{
    status_enter();
    write_file(status_path("."), read_file(fixture_path("nagios4-status.dat")));
    status_refresh();
    status_need_links();
    int acked = 0, downtime = 0, via_host = 0, since_start = 0;
    for (int i = 0; i < host_list_size; i++) {
        acked += (host_idx_to_marks[i] & MARK_ACK) != 0;
        downtime += (host_idx_to_marks[i] & MARK_DOWNTIME) != 0;
        since_start += status_str(host_list[i].duration).back() == '+';
    }
    for (int i = 0; i < service_list_size; i++) {
        acked += (service_idx_to_marks[i] & MARK_ACK) != 0;
        downtime += (service_idx_to_marks[i] & MARK_DOWNTIME) != 0;
        via_host += service_idx_to_marks[i] == MARK_HOST;
        since_start += status_str(service_list[i].duration).back() == '+';
    }
    EXPECT_EQ(acked, 2);
    EXPECT_EQ(downtime, 2);
    EXPECT_GT(via_host, 0);
    EXPECT_GT(since_start, 0);
    // No object is shown as changed in 1970.
    for (int i = 0; i < service_list_size; i++)
        EXPECT_NE(status_str(service_list[i].last_change), EPOCH_TEXT) << i;
}

TEST(StatusHandled, ConfigurationStatements)
{
    struct rc_case {
        const char *line;
        bool error;
        int filter_set;  // from FILTER_REGEX set before the line
        int alert;       // from 1 before the line
    };
    const rc_case cases[] = {
        {"default handled = hidden", false, FILTER_REGEX | FILTER_UNHANDLED, 1},
        {"default handled = shown", false, FILTER_REGEX, 1},
        {"default handled = Hidden", true, FILTER_REGEX, 1},
        {"default handled = hidden extra", false, FILTER_REGEX | FILTER_UNHANDLED, 1},
        {"default handled hidden", true, FILTER_REGEX, 1},
        {"default alert = bell", false, FILTER_REGEX, 1},
        {"default alert = flash", false, FILTER_REGEX, 2},
        {"default alert = off", false, FILTER_REGEX, 0},
        {"default alert = on", true, FILTER_REGEX, 1},
        {"default alert = ", true, FILTER_REGEX, 1},
    };
    const std::string path = test_dir() + "/quelvanrc";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        settings_reset();
        filter_set = FILTER_REGEX;
        alert_mode = 1;
        write_file(path, std::string(c.line) + "\n");
        testing::internal::CaptureStdout();
        read_dot_file(path.c_str());
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, c.error ? path + ": syntax error on line 1\n" : "");
        EXPECT_EQ(filter_set, c.filter_set);
        EXPECT_EQ(alert_mode, c.alert);
    }
    settings_reset();
}

}  // namespace
