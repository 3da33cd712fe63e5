// SPDX-License-Identifier: GPL-2.0-or-later
// A Livestatus peer that misbehaves on purpose: it listens on a unix socket
// (and, when asked, on TCP at a loopback address with a free port) in a
// thread of the test process and serves each request by the behaviour the
// test sets, which may change while it runs. It records every request it
// reads and counts connections. The console's reader connects to it in
// process or as the real binary under tmux.
#ifndef TESTS_FAULT_SERVER_H
#define TESTS_FAULT_SERVER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

enum class fault_mode {
    answer,              // a fixed16 header and the answer's body; KeepAlive: on is honoured
    silent,              // reads, never answers, never closes
    close_mid,           // the header, half of the body, then closes
    wrong_length_open,   // announces FAULT_SHORTFALL bytes more than it sends, then waits
    wrong_length_close,  // the same, then closes
    bad_header,          // the raw text set by fault_set_header for a header, the body, then waits
    garbage,             // 10 MB of random bytes, no header, then closes
    error,               // the error set by fault_set_error (400 at first), then closes
    refuse,              // not listening: connections are refused
};

// Bytes that the wrong_length modes announce beyond the body they send.
constexpr size_t FAULT_SHORTFALL = 100;

struct fault_answer {
    int status = 200;
    std::string body = "[]\n";
};
// An answer computed for each request (the request's whole text).
using fault_answer_fn = std::function<fault_answer(const std::string &request)>;

struct fault_state;  // shared with the server's threads

// A running server; stops in its destructor (threads joined, connections
// closed, socket file removed).
struct fault_server {
    std::string path;   // the unix socket
    std::string host;   // TCP: the address it listens on, empty without TCP
    int port = 0;       // TCP: the port it listens on
    std::shared_ptr<fault_state> state;
    fault_server() = default;
    fault_server(const fault_server &) = delete;
    fault_server &operator=(const fault_server &) = delete;
    fault_server(fault_server &&other) noexcept = default;
    ~fault_server();
};

// Starts a server in answer mode on the unix socket path (a file there is
// replaced) and, when tcp_host is given ("127.0.0.1", "::1"), on TCP there
// with a free port. A failure to listen fails the test (ADD_FAILURE) and
// leaves state empty.
fault_server fault_start(const std::string &path, const std::string &tcp_host = "");
// Ends the server now (the destructor does it too).
void fault_stop(fault_server &f);

// The behaviour for every request read from now on, on new connections and
// kept ones alike. To and from refuse, it returns once the listening
// sockets are closed or open again.
void fault_set_mode(fault_server &f, fault_mode mode);
// What answer, close_mid and the wrong_length modes send.
void fault_set_answer(fault_server &f, int status, const std::string &body);
void fault_set_answer(fault_server &f, fault_answer_fn fn);
// The 16 bytes (or any text) that bad_header sends in place of the header.
void fault_set_header(fault_server &f, const std::string &raw);
// What error sends: its status and message body.
void fault_set_error(fault_server &f, int status, const std::string &message);
// Answers each connection gives before it closes at the next request it
// reads, unanswered (a daemon dropping a client it kept); -1, the start,
// is no limit.
void fault_set_answers_per_connection(fault_server &f, int n);
// Closes every connection open now (the client sees its end).
void fault_drop(fault_server &f);

// The requests read so far, whole (up to and with their empty line; a
// connection's last bytes without one when it ended), in order.
std::vector<std::string> fault_requests(const fault_server &f);
// Connections accepted so far.
int fault_connections(const fault_server &f);
// Connections being served now (a connection's end is recorded first).
int fault_open(const fault_server &f);
// Waits until at least n requests have been read.
bool fault_wait_requests(const fault_server &f, size_t n, int timeout_ms = WAIT_MS);

#endif
