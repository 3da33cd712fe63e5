// SPDX-License-Identifier: GPL-2.0-or-later
// Real monitoring daemons for the tests, each started by the test in a run
// directory of its own under /tmp and stopped by its process id when the
// test is over (or by a guard process, should the test program die first):
// Debian's Nagios 4 (live_daemon, read through its status file and written
// to through its command pipe) and Debian's Icinga 2 with its Livestatus
// listener (live_icinga, asked and commanded over its sockets).
#ifndef TESTS_LIVE_DAEMONS_H
#define TESTS_LIVE_DAEMONS_H

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include <gtest/gtest.h>

// --- either daemon ---

// Under CI the live tests must run: a skip there would let the run go
// green without ever meeting a real daemon.
bool live_required();

// The processes that work for the run directory run: a daemon's check
// workers may run in process groups of their own and are found by the
// directory on their command line.
std::vector<pid_t> live_processes_of(const std::string &run);

// A guard process that, once the test program has ended or let go of it,
// stops the daemon pid and whatever works for run; when the program ended
// without letting go, it removes run too. *fd is the program's end of the
// guard's pipe (-1 when no guard could be started).
void live_guard_start(pid_t daemon, const std::string &run, pid_t *guard, int *fd);
// Lets the guard go with nothing left to stop.
void live_guard_end(pid_t *guard, int *fd);

// Ends the daemon started as pid (its own process group) and every process
// that it started for the run directory run.
void live_stop_daemon(pid_t pid, const std::string &run);

// Skips the test with the reason when a daemon cannot run here, or fails it
// under CI=true.
#define LIVE_SKIP_UNLESS(reason_expr, daemon)                                     \
    do {                                                                          \
        std::string reason = (reason_expr);                                       \
        if (!reason.empty() && live_required())                                   \
            FAIL() << "CI=true and no live " << daemon << " daemon: " << reason;  \
        if (!reason.empty())                                                      \
            GTEST_SKIP() << "no live " << daemon << " daemon here: " << reason;   \
    } while (0)

// --- Nagios 4 ---

// One hoststatus or servicestatus stanza of the daemon's status file.
struct live_stanza {
    std::string kind;  // "hoststatus" or "servicestatus"
    std::map<std::string, std::string> keys;
};

struct live_status {
    long created = 0;
    long program_start = 0;
    std::vector<live_stanza> stanzas;
    std::vector<live_stanza> notes;  // comments and downtimes

    // The note of that kind ("servicecomment", "hostdowntime", ...) of host.
    const live_stanza *note(const std::string &kind, const std::string &host) const;
    const live_stanza *find(const std::string &host, const std::string &service = "") const;
};

live_status live_parse(const std::string &text);

// What stops a live Nagios test from running here, or "" when nothing does.
std::string live_skip_reason();

#define LIVE_SKIP_UNLESS_POSSIBLE() LIVE_SKIP_UNLESS(live_skip_reason(), "Nagios")

// Every object of tests/live/objects.cfg.in has the result of its first
// check (or, for those without active checks, is still unchecked), and the
// host behind the gateway has been found unreachable.
bool live_all_checked(const live_status &st);

// A Nagios daemon of its own, in a run directory of its own under /tmp (the
// nagios user must reach it, which a checkout under /root would not allow),
// started by tests/live/start-nagios. It is stopped by its process id when
// the object goes, and, should the test program die first, by the guard.
class live_daemon {
public:
    explicit live_daemon(const std::string &test_dir);
    ~live_daemon();
    live_daemon(const live_daemon &) = delete;
    live_daemon &operator=(const live_daemon &) = delete;

    const std::string &run_dir() const { return run_; }
    std::string status_path() const { return run_ + "/status.dat"; }

    // Waits until the daemon has written a status file for which ready()
    // holds, written after every check that it waited for had its result.
    bool wait_for(const std::function<bool(const live_status &)> &ready, int timeout_ms,
                  live_status *seen = nullptr);
    // Sends an external command through the daemon's command file.
    bool send(const std::string &command);
    bool running();
    std::string daemon_log() const;
    // Stops the daemon and removes its run directory (its log is kept in
    // the test's directory).
    void stop();

private:
    std::string run_;
    std::string log_copy_;
    pid_t pid_ = -1;
    pid_t guard_pid_ = -1;
    int guard_fd_ = -1;
};

// --- Icinga 2 over Livestatus ---

// What stops a live Icinga 2 test from running here, or "" when nothing does.
std::string live_icinga_skip_reason();

#define LIVE_ICINGA_SKIP_UNLESS_POSSIBLE() LIVE_SKIP_UNLESS(live_icinga_skip_reason(), "Icinga 2")

// One JSON value of a Livestatus reply.
struct live_value {
    enum kind_t { NUL, BOOL, NUMBER, STRING, ARRAY } kind = NUL;
    std::string text;                // a string's text, a number's or true/false as written
    std::vector<live_value> items;   // an array's
};

// Parses the JSON text whole (blanks around it allowed).
bool live_json_parse(const std::string &text, live_value &out);

// A reply with "ResponseHeader: fixed16": its status and body; false when
// the header is not 16 bytes of "DDD <length right-aligned in 11>\n" or the
// body is not that long.
bool live_fixed16(const std::string &reply, int *status, std::string *body);

// The rows of a fixed16 JSON reply to "Columns: <columns>" (in that order),
// each as column -> text (a string's text, a number, true/false or null as
// written, an array as its items' texts joined by ","); empty when the
// reply is no such thing.
std::vector<std::map<std::string, std::string>> live_rows(const std::string &reply,
                                                           const std::vector<std::string> &columns);

// Plain Livestatus connections: a unix socket or a TCP port of 127.0.0.1;
// -1 when refused.
int live_connect_unix(const std::string &path);
int live_connect_tcp(int port);
bool live_send(int fd, const std::string &data);
// Reads n bytes, or everything up to the peer's end when n is npos, within
// timeout_ms; what came.
std::string live_receive(int fd, size_t n, int timeout_ms);
// Sends request on the connection fd (from above, -1 for none), ends the
// sending side, reads the reply up to the daemon's close and closes fd.
std::string live_exchange(int fd, const std::string &request, int timeout_ms);

// An Icinga 2 daemon of its own with Livestatus, in a run directory of its
// own under /tmp (the nagios user must reach it; a unix socket's path must
// stay short), started by tests/live/start-icinga2 with the objects of
// tests/live/icinga2-objects.conf. With tcp it listens on a free port of
// 127.0.0.1 too. It is stopped by its process id when the object goes, and,
// should the test program die first, by the guard. stop() and start() end
// and restart it on the same run directory, with the state it saved.
class live_icinga {
public:
    explicit live_icinga(const std::string &test_dir, bool tcp = false);
    ~live_icinga();
    live_icinga(const live_icinga &) = delete;
    live_icinga &operator=(const live_icinga &) = delete;

    const std::string &run_dir() const { return run_; }
    std::string socket_path() const { return run_ + "/live.sock"; }
    int tcp_port() const { return port_; }  // 0 without tcp

    // Starts the daemon again (false when it runs already or cannot start).
    bool start();
    // Stops the daemon and every process working for it; keeps the run
    // directory.
    void stop();
    bool running();

    // A raw request (its lines, ending with the empty line) over the unix
    // socket or over TCP, and the raw reply; "" when no connection.
    std::string query(const std::string &request);
    std::string query_tcp(const std::string &request);
    // Sends "COMMAND [now] line" (line: NAME;args).
    bool command(const std::string &line);
    // Asks request again until ready(reply) holds (true), the daemon is
    // gone or timeout_ms have passed (false); the last reply in *seen.
    bool wait_for(const std::string &request, const std::function<bool(const std::string &)> &ready,
                  int timeout_ms, std::string *seen = nullptr);
    // Waits until every object is as icinga2-objects.conf has it after its
    // first check, with ice-db Queue acknowledged and ice-web Cert in a
    // downtime (sent here when the daemon has not kept them from before).
    bool wait_ready(int timeout_ms);

    // The daemon's log file, and what start-icinga2 and the daemon wrote on
    // their output (the configuration's errors among it).
    std::string daemon_log() const;
    std::string daemon_output() const;

private:
    std::string run_;
    std::string test_dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    pid_t guard_pid_ = -1;
    int guard_fd_ = -1;
};

// Every live Icinga 2 test's start: dir, the test's directory, and icinga,
// the daemon running there (with a TCP listener when tcp), every object in
// its configured state.
#define LIVE_ICINGA_START(tcp)                                           \
    LIVE_ICINGA_SKIP_UNLESS_POSSIBLE();                                  \
    const std::string dir = test_dir();                                  \
    live_icinga icinga(dir, tcp);                                        \
    ASSERT_TRUE(icinga.wait_ready(60000))                                \
        << icinga.daemon_output() << icinga.daemon_log()

#endif
