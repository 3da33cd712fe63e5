// SPDX-License-Identifier: GPL-2.0-or-later
// Triage in a real terminal: the marks of handled problems, "H" and the
// filter texts, the configuration statements, the paging keys of every
// keyboard, and the alert after a re-read that brings a new problem.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "keys_tty.h"

namespace {

const long CREATED = 1700000000;

// Lines inserted before the closing brace of the last stanza of s.
std::string with_lines(std::string s, const std::string &lines)
{
    size_t brace = s.rfind("\t}\n");
    s.insert(brace, lines);
    return s;
}

const std::string ACK = "\tproblem_has_been_acknowledged=1\n";
const std::string DT = "\tscheduled_downtime_depth=1\n";

// Hosts: up UP, down DOWN, downack DOWN acknowledged. Services: one of each
// kind of handling, and two unhandled problems.
std::string triage_file(long created = CREATED, const std::string &more = "")
{
    return status_file(
        created,
        host_stanza("up", 0, "PING OK", created - 600) +
            host_stanza("down", 1, "PING CRITICAL", created - 600) +
            with_lines(host_stanza("downack", 1, "PING CRITICAL lost", created - 600), ACK) +
            service_stanza("up", "Disk", 1, "DISK WARNING", created - 300) +
            with_lines(service_stanza("up", "HTTP", 2, "HTTP CRITICAL acked", created - 300), ACK) +
            with_lines(service_stanza("up", "Load", 0, "LOAD OK in downtime", created - 300), DT) +
            service_stanza("down", "SSH", 2, "SSH CRITICAL host down", created - 300) +
            service_stanza("up", "Mail", 2, "MAIL CRITICAL open", created - 300) + more);
}

// Waits until row r begins with text.
bool wait_prefix(const tty &t, int r, const std::string &text, int timeout_ms = WAIT_MS)
{
    return harness_poll([&] { return tty_row(t, r).rfind(text, 0) == 0; }, timeout_ms);
}

bool shows(const tty &t, const std::string &text)
{
    return tty_screen(t).find(text) != std::string::npos;
}

TEST(Triage, MarksShowAndHHidesHandledProblems)
{
    const std::string dir = test_dir();
    write_defaults(dir, triage_file());
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());

    // Marks on the item lines; a service handled through its host keeps its text.
    EXPECT_TRUE(shows(t, " CRIT/ACK  up HTTP  ")) << tty_screen(t);
    EXPECT_TRUE(shows(t, " OKAY/DT   up Load  ")) << tty_screen(t);
    EXPECT_TRUE(shows(t, " CRITICAL  down SSH  ")) << tty_screen(t);
    EXPECT_EQ(tty_row(t, 3).substr(0, 14), "  Filter: none");

    struct step {
        std::vector<std::string> keys;
        const char *message;  // "" for none
        const char *filter;   // row 3 begins with it
        const char *match;    // row 2 holds it ("" for no match text)
        std::vector<std::string> seen, hidden;
    };
    const std::vector<step> steps = {
        {{"H"}, "unhandled only", "  Filter: unhandled", " 2 match the filter",
         {"up Disk", "up Mail"}, {"up HTTP", "up Load", "down SSH"}},
        {{"H"}, "handled shown", "  Filter: none", "", {"up HTTP", "up Load", "down SSH"}, {}},
        {{"H", "/", "M", "a", "i", "l", "Enter"}, "", "  Filter: text =~ /Mail/, unhandled",
         " 1 matches the filter", {"up Mail"}, {"up Disk"}},
        {{"!", "D", "i", "s", "k", "Enter"}, "", "  Filter: text !~ /Disk/, unhandled",
         " 1 match", {"up Mail"}, {"up Disk", "up HTTP"}},
        {{"x"}, "filter deleted", "  Filter: none", "", {"up HTTP", "down SSH", "up Disk"}, {}},
        {{"u", "H"}, "unhandled only", "  Filter: unhandled", " 2 match the filter",
         {"up ", "down "}, {"downack"}},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.keys[0] + " " + s.filter);
        log.mark();
        for (const auto &k : s.keys)
            tty_keys(t, {k});
        if (*s.message) {
            EXPECT_TRUE(log.wait(s.message)) << printable(log.since());
        }
        ASSERT_TRUE(wait_prefix(t, 3, s.filter)) << tty_screen(t);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        if (*s.match) {
            EXPECT_NE(tty_row(t, 2).find(s.match), std::string::npos) << tty_screen(t);
        } else {
            EXPECT_EQ(tty_row(t, 2).find("match"), std::string::npos) << tty_screen(t);
        }
        for (const auto &v : s.seen)
            EXPECT_TRUE(shows(t, v)) << v << "\n" << tty_screen(t);
        for (const auto &h : s.hidden)
            EXPECT_FALSE(shows(t, h)) << h << "\n" << tty_screen(t);
        EXPECT_EQ(bells(log.since()), 0) << printable(log.since());  // H is bound: no beep
    }
    // The title counts every item, hidden or not.
    EXPECT_NE(tty_row(t, 1).find("3 Host Objects"), std::string::npos) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Triage, HandledHiddenFromTheConfigurationFile)
{
    struct rc_case {
        const char *rc;
        const char *filter;
    };
    const rc_case cases[] = {
        {"default handled = hidden\n", "  Filter: unhandled"},
        {"default handled = hidden\ndefault handled = shown\n", "  Filter: none"},
        {"default text =~ /Mail/\ndefault handled = hidden\n",
         "  Filter: text =~ /Mail/, unhandled"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rc);
        const std::string dir = test_dir();
        write_defaults(dir, triage_file());
        write_file(system_rc_path_in(dir), c.rc);
        tty t = tty_start(dir, {"-i", "0"});
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        EXPECT_TRUE(wait_prefix(t, 3, c.filter)) << tty_screen(t);
        EXPECT_EQ(shows(t, "up HTTP"), std::string(c.filter) == "  Filter: none") << tty_screen(t);
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0);
    }
}

TEST(Triage, PagingKeysOfEveryKeyboard)
{
    const std::string dir = test_dir();
    // 30 services: 13 rows a page on 24 rows, so three pages.
    write_defaults(dir, status_file(CREATED, services("svc", 30, 0, CREATED)));
    tty t = tty_start(dir, {"-i", "0"});
    ASSERT_TRUE(tty_wait(t, "page 1 of 3")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    struct key_case {
        const char *key;
        const char *message;
        const char *page;
    };
    const key_case cases[] = {
        {"NPage", "page down", "page 2 of 3"}, {"NPage", "page down", "page 3 of 3"},
        {"PPage", "page up", "page 2 of 3"},   {"Home", "first page", "page 1 of 3"},
        {"End", "last page", "page 3 of 3"},   {"Home", "first page", "page 1 of 3"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.page);
        log.mark();
        tty_keys(t, {c.key});
        EXPECT_TRUE(log.wait(c.message)) << printable(log.since());
        EXPECT_TRUE(tty_wait(t, c.page)) << tty_screen(t);
    }
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// The alert: a re-read that brings an unhandled problem that the previous
// read did not have rings once, after the redraw; nothing else does.
struct alert_case {
    const char *what;
    const char *rc;
    const char *sent;  // what the alert sends to the terminal
};

// The framework shows a case by its name, not as a dump of its bytes.
void PrintTo(const alert_case &c, std::ostream *os)
{
    *os << c.what;
}

class TriageAlert : public testing::TestWithParam<alert_case> {};

TEST_P(TriageAlert, ANewUnhandledProblemAlertsAfterTheTimersReRead)
{
    const alert_case &c = GetParam();
    const std::string dir = test_dir();
    write_defaults(dir, triage_file());
    write_file(system_rc_path_in(dir), c.rc);
    tty t = tty_start(dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log l(t);
    pane_log *log = &l;
    ASSERT_TRUE(log->ok());

    // What was sent since the last mark and through the next re-read and its
    // redraw holds no alert.
    auto expect_quiet_through_next_read = [&] {
        std::string quiet = log->since();
        log->mark();
        ASSERT_TRUE(log->wait("reading status.dat")) << printable(log->since());
        ASSERT_TRUE(log->wait("Command:")) << printable(log->since());
        quiet += log->since();
        EXPECT_EQ(quiet.find(c.sent), std::string::npos) << printable(quiet);
        EXPECT_EQ(bells(quiet), 0) << printable(quiet);
    };

    // Problems there since start-up (the read at start-up never rings), and
    // a refresh that changes nothing: no alert.
    log->mark();
    ASSERT_TRUE(log->wait("reading status.dat")) << printable(log->since());
    ASSERT_TRUE(log->wait("Command:")) << printable(log->since());
    write_file(status_path(dir), triage_file(CREATED + 10));
    ASSERT_TRUE(tty_wait(t, "22:13:30")) << tty_screen(t);
    ASSERT_NO_FATAL_FAILURE(expect_quiet_through_next_read());

    // A new CRITICAL, acknowledged: no alert.
    log->mark();
    write_file(status_path(dir),
               triage_file(CREATED + 20, with_lines(service_stanza("up", "Queue", 2, "QUEUE acked",
                                                                   CREATED + 15),
                                                    ACK)));
    ASSERT_TRUE(tty_wait(t, "CRIT/ACK  up Queue")) << tty_screen(t);
    ASSERT_TRUE(log->wait("QUEUE acked")) << printable(log->since());
    ASSERT_NO_FATAL_FAILURE(expect_quiet_through_next_read());

    // A new unhandled CRITICAL, in another view (hosts, DOWN only): the alert.
    tty_type(t, "d");
    ASSERT_TRUE(tty_wait(t, "2 Down Hosts")) << tty_screen(t);
    log->mark();
    write_file(status_path(dir),
               triage_file(CREATED + 30, service_stanza("up", "Queue", 2, "QUEUE lost",
                                                        CREATED + 25)));
    ASSERT_TRUE(log->wait(c.sent)) << printable(log->since());
    std::string sent = log->since();
    // After the redraw, once.
    size_t at = sent.find(c.sent);
    EXPECT_NE(sent.rfind("Command:", at), std::string::npos) << printable(sent);
    EXPECT_EQ(sent.find(c.sent, at + 1), std::string::npos) << printable(sent);
    EXPECT_TRUE(tty_wait(t, "22:13:50")) << tty_screen(t);

    // The same problem at the next re-read: no alert again.
    log->mark();
    ASSERT_TRUE(log->wait("reading status.dat")) << printable(log->since());
    ASSERT_TRUE(log->wait("Command:")) << printable(log->since());
    ASSERT_TRUE(log->wait("reading status.dat")) << printable(log->since());
    EXPECT_EQ(log->since().find(c.sent), std::string::npos) << printable(log->since());
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, TriageAlert,
                         testing::Values(alert_case{"bell", "default alert = bell\n", "\a"},
                                         alert_case{"flash", "default alert = flash\n",
                                                    "\x1bg"}),
                         [](const testing::TestParamInfo<alert_case> &i) {
                             return std::string(i.param.what);
                         });

// A hook that rewrites a description differently at every read: the alert
// knows services by their descriptions as the file gives them.
TEST(Triage, TheAlertKnowsServicesByTheFilesDescriptions)
{
    const std::string hook = R"PERL(
my $flip = 0;
sub host_plugin_hook { return $_[0]; }
sub service_plugin_hook {
    my $t = shift;
    return $t unless $t =~ /^up Mail/;
    $flip = !$flip;
    return $flip ? uc $t : lc $t;
}
sub regex_hook { return 0; }
1;
)PERL";
    const std::string dir = test_dir();
    write_defaults(dir, triage_file(), hook);
    write_file(system_rc_path_in(dir), "default alert = bell\n");
    tty t = tty_start(dir, {"-i", "1"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    pane_log log(t);
    ASSERT_TRUE(log.ok());
    log.mark();
    // Three re-reads, each redrawn.
    auto reads_done = [&] {
        std::string sent = log.since();
        int reads = 0;
        for (size_t at = sent.find("reading status.dat"); at != std::string::npos;
             at = sent.find("reading status.dat", at + 1))
            reads++;
        size_t last = sent.rfind("reading status.dat");
        return reads >= 3 && sent.find("Command:", last) != std::string::npos;
    };
    ASSERT_TRUE(harness_poll(reads_done)) << printable(log.since());
    const std::string sent = log.since();
    EXPECT_NE(sent.find("UP MAIL"), std::string::npos) << printable(sent);
    EXPECT_NE(sent.find("up mail"), std::string::npos) << printable(sent);
    EXPECT_EQ(bells(sent), 0) << printable(sent);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Triage, ANewDownHostAlertsAfterRAndNothingWithoutTheStatement)
{
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "alert = bell" : "no statement");
        const std::string dir = test_dir();
        write_defaults(dir, triage_file());
        if (on)
            write_file(system_rc_path_in(dir), "default alert = bell\n");
        tty t = tty_start(dir, {"-i", "0"});
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        pane_log log(t);
        ASSERT_TRUE(log.ok());
        write_file(status_path(dir), triage_file(CREATED + 30, host_stanza("newdown", 1,
                                                                         "PING lost", CREATED)));
        log.mark();
        tty_type(t, "r");
        ASSERT_TRUE(log.wait("reading status.dat")) << printable(log.since());
        ASSERT_TRUE(log.wait("Command:")) << printable(log.since());
        // "z" beeps on its own, after the alert if there is one.
        // Its beep is followed by a redraw, which the alert is not.
        tty_type(t, "z");
        auto z_done = [&] {
            std::string sent = log.since();
            size_t bell = sent.find('\a');
            return bell != std::string::npos && sent.find("Command:", bell) != std::string::npos;
        };
        ASSERT_TRUE(harness_poll(z_done)) << printable(log.since());
        EXPECT_EQ(bells(log.since()), on ? 2 : 1) << printable(log.since());
        EXPECT_TRUE(shows(t, "22:13:50")) << tty_screen(t);
        tty_type(t, "q");
        EXPECT_EQ(tty_wait_exit(t), 0);
    }
}

}  // namespace
