// SPDX-License-Identifier: GPL-2.0-or-later
// The Livestatus wire against a peer that misbehaves on purpose: whole
// replies, kept connections and their reopening, every way a reply can go
// wrong and the short reason the console shows for it, paths that are no
// socket, TCP, and command lines sent whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "fault_server.h"
#include "harness.h"
#include "livestatus/livestatus.h"

namespace fs = std::filesystem;

namespace {

const std::string REQUEST =
    "GET hosts\nColumns: name state\nOutputFormat: json\nResponseHeader: fixed16\n"
    "KeepAlive: on\n\n";
// A deadline that only a failure reaches.
constexpr int LONG_MS = 20000;
// The deadline of the cases that are to time out.
constexpr int SHORT_MS = 1500;

site wire_unix_site(const std::string &path)
{
    site s{};
    strcpy(s.name, "berlin");
    s.kind = SITE_LIVESTATUS_UNIX;
    text_copy(s.path, path.c_str());
    return s;
}

site wire_tcp_site(const std::string &host, int port)
{
    site s{};
    strcpy(s.name, "paris");
    s.kind = SITE_LIVESTATUS_TCP;
    text_copy(s.host, host.c_str());
    s.port = port;
    return s;
}

struct outcome {
    bool ok;
    livestatus_reply reply;
    std::string why;
};

// The reply held plain, or packed where it is longer than this.
constexpr size_t PLAIN = SIZE_MAX;

outcome wire_query(const site &s, int &fd, int ms = LONG_MS, const std::string &request = REQUEST,
                   size_t pack_from = PLAIN)
{
    outcome o;
    o.ok = livestatus_query(fd, s, request, livestatus_now_ms() + ms, o.reply, o.why, pack_from);
    EXPECT_EQ(o.ok, o.why.empty()) << o.why;
    EXPECT_EQ(o.ok, fd >= 0) << "a failure closes the connection, a success keeps it";
    return o;
}

// The body of a reply, checked for its length and its zeroed padding.
std::string wire_body(const livestatus_reply &r)
{
    EXPECT_EQ(r.body.size(), r.length + LIVESTATUS_PADDING);
    if (r.body.size() < LIVESTATUS_PADDING)
        return "";
    EXPECT_TRUE(std::all_of(r.body.end() - LIVESTATUS_PADDING, r.body.end(),
                            [](char c) { return c == 0; }))
        << "the padding is zeroed";
    return std::string(r.body.data(), r.length);
}

// The server has had n connections and seen the end of each.
bool wire_served(const fault_server &f, int n)
{
    return fault_connections(f) == n && fault_open(f) == 0;
}

enum class transport { unix_socket, tcp };

// A server on a unix socket and on 127.0.0.1, and a site of either kind.
class Wire : public testing::Test {
protected:
    std::string dir = test_dir();
    fault_server server = fault_start(dir + "/live", "127.0.0.1");
    site via(transport t) const
    {
        return t == transport::unix_socket ? wire_unix_site(server.path)
                                           : wire_tcp_site("127.0.0.1", server.port);
    }
    void SetUp() override { ASSERT_TRUE(server.state) << "the fault server did not start"; }
};

class WireBoth : public Wire, public testing::WithParamInterface<transport> {};

std::string transport_name(const testing::TestParamInfo<transport> &p)
{
    return p.param == transport::unix_socket ? "Unix" : "Tcp";
}

// --- whole replies ---

struct body_case {
    const char *name;
    std::string body;
};
void PrintTo(const body_case &c, std::ostream *os) { *os << c.name; }

class WholeReply : public Wire, public testing::WithParamInterface<body_case> {};

TEST_P(WholeReply, ComesWithItsStatusLengthAndPadding)
{
    const body_case &c = GetParam();
    fault_set_answer(server, 200, c.body);
    int fd = -1;
    outcome o = wire_query(via(transport::unix_socket), fd);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.reply.status, 200);
    EXPECT_EQ(o.reply.length, c.body.size());
    EXPECT_EQ(wire_body(o.reply), c.body);
    EXPECT_EQ(fault_requests(server), std::vector<std::string>{REQUEST}) << "sent exactly";
    livestatus_close(fd);
    EXPECT_EQ(fd, -1);
}

// Each body held packed where it has a byte: as it came, with the padding.
TEST_P(WholeReply, PackedComesAsItWasSent)
{
    const body_case &c = GetParam();
    fault_set_answer(server, 200, c.body);
    int fd = -1;
    outcome o = wire_query(via(transport::unix_socket), fd, LONG_MS, REQUEST, 0);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.reply.length, c.body.size());
    EXPECT_EQ(o.reply.packed_length != 0, !c.body.empty());
    if (o.reply.packed_length != 0) {
        EXPECT_TRUE(o.reply.body.empty());
    }
    std::string why;
    livestatus_bytes body = livestatus_unpack(o.reply, why);
    EXPECT_EQ(why, "");
    livestatus_reply plain;
    plain.length = o.reply.length;
    plain.body = std::move(body);
    EXPECT_EQ(wire_body(plain), c.body);
    livestatus_close(fd);
}

std::string wire_big_body()
{
    // More than the first read buffer, and no round size.
    std::string b = "[";
    for (int i = 0; b.size() < 3 * 1024 * 1024 + 7; i++)
        b += "[\"host-" + std::to_string(i) + "\",0],";
    b.back() = ']';
    return b + "\n";
}

// Bytes that do not pack: a packed body may be larger than its plain one.
std::string wire_random_body()
{
    std::string b(3 * 1024 * 1024 + 7, '\0');
    uint32_t x = 2463534242u;
    for (char &c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return b;
}

INSTANTIATE_TEST_SUITE_P(Bodies, WholeReply,
                         testing::Values(body_case{"Empty", ""},
                                         body_case{"Table", "[[\"web-01\",0],[\"db-01\",2]]\n"},
                                         body_case{"Binary", std::string("a\0b\xff\n", 5)},
                                         body_case{"ThreeMegabytes", wire_big_body()},
                                         body_case{"ThreeRandomMegabytes", wire_random_body()}),
                         [](const auto &p) { return std::string(p.param.name); });

// A status other than 200 is a reply all the same: the caller judges it.
TEST_P(WireBoth, ErrorStatusIsAReplyWithItsMessage)
{
    for (const auto &[status, message] :
         {std::pair{400, std::string("Invalid GET request, no such table 'hots'\n")},
          std::pair{452, std::string("Completely invalid GET request 'x'\n")}}) {
        SCOPED_TRACE(status);
        fault_set_mode(server, fault_mode::error);
        fault_set_error(server, status, message);
        int fd = -1;
        outcome o = wire_query(via(GetParam()), fd);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(o.reply.status, status);
        EXPECT_EQ(wire_body(o.reply), message);
        livestatus_close(fd);
    }
}

// --- kept connections ---

TEST_P(WireBoth, KeepAliveServesTwoQueriesOnOneConnection)
{
    fault_set_answer(server, [](const std::string &request) {
        return fault_answer{200, std::to_string(request.size()) + "\n"};
    });
    const std::string other = "GET services\nColumns: description\nOutputFormat: json\n"
                              "ResponseHeader: fixed16\nKeepAlive: on\n\n";
    int fd = -1;
    outcome first = wire_query(via(GetParam()), fd);
    ASSERT_TRUE(first.ok);
    const int kept = fd;
    outcome second = wire_query(via(GetParam()), fd, LONG_MS, other);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(fd, kept);
    EXPECT_EQ(wire_body(first.reply), std::to_string(REQUEST.size()) + "\n");
    EXPECT_EQ(wire_body(second.reply), std::to_string(other.size()) + "\n");
    EXPECT_EQ(fault_connections(server), 1);
    EXPECT_EQ(fault_requests(server), (std::vector<std::string>{REQUEST, other}));
    livestatus_close(fd);
}

// A request without KeepAlive is answered and the connection closed: the
// next query finds it closed and opens another.
TEST_F(Wire, ConnectionClosedAfterAReplyWithoutKeepAliveIsOpenedAgain)
{
    const std::string once = "GET status\nColumns: program_start\nResponseHeader: fixed16\n\n";
    int fd = -1;
    ASSERT_TRUE(wire_query(via(transport::unix_socket), fd, LONG_MS, once).ok);
    ASSERT_TRUE(harness_poll([&] { return !fault_requests(server).empty(); }));
    ASSERT_TRUE(wire_query(via(transport::unix_socket), fd, LONG_MS, once).ok);
    EXPECT_EQ(fault_connections(server), 2);
    EXPECT_EQ(fault_requests(server), (std::vector<std::string>{once, once}));
    livestatus_close(fd);
}

// The daemon closed the kept connection between two queries: seen before
// the request is sent.
TEST_P(WireBoth, KeptConnectionClosedBetweenQueriesIsOpenedAgain)
{
    int fd = -1;
    ASSERT_TRUE(wire_query(via(GetParam()), fd).ok);
    fault_drop(server);
    outcome o = wire_query(via(GetParam()), fd);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(wire_body(o.reply), "[]\n");
    EXPECT_EQ(fault_connections(server), 2);
    EXPECT_EQ(fault_requests(server), (std::vector<std::string>{REQUEST, REQUEST}));
    livestatus_close(fd);
}

// Bytes beyond the announced length wait on the kept connection: they are
// never read as the next reply's header, the connection is opened anew.
TEST_F(Wire, StrayBytesOnAKeptConnectionAreNotTakenForTheNextReply)
{
    fault_set_header(server, "200           3\n");
    fault_set_answer(server, 200, "abc200           5\nhello");
    fault_set_mode(server, fault_mode::bad_header);
    int fd = -1;
    outcome o = wire_query(via(transport::unix_socket), fd);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(wire_body(o.reply), "abc");
    fault_set_mode(server, fault_mode::answer);
    o = wire_query(via(transport::unix_socket), fd);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(wire_body(o.reply), "abc200           5\nhello");
    EXPECT_EQ(fault_connections(server), 2);
    livestatus_close(fd);
}

// The daemon closes the kept connection on reading the request, unanswered:
// the request is sent once more on a new connection.
TEST_P(WireBoth, KeptConnectionClosedAtTheRequestIsOpenedAgainOnce)
{
    fault_set_answers_per_connection(server, 1);
    int fd = -1;
    ASSERT_TRUE(wire_query(via(GetParam()), fd).ok);
    ASSERT_TRUE(wire_query(via(GetParam()), fd).ok);
    EXPECT_EQ(fault_connections(server), 2);
    EXPECT_EQ(fault_requests(server), (std::vector<std::string>{REQUEST, REQUEST, REQUEST}));

    // Once only: the new connection's failure is the answer.
    fault_set_mode(server, fault_mode::refuse);
    outcome o = wire_query(via(GetParam()), fd);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, "connection refused");
    EXPECT_EQ(fault_connections(server), 2);
    livestatus_close(fd);
}

// A new connection closed before the header is not tried again.
TEST_P(WireBoth, NewConnectionClosedBeforeTheHeader)
{
    fault_set_answers_per_connection(server, 0);
    int fd = -1;
    outcome o = wire_query(via(GetParam()), fd);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, "connection closed");
    EXPECT_EQ(fault_connections(server), 1);
    EXPECT_EQ(fault_requests(server).size(), 1u);
}

// Part of a reply came on the kept connection: the daemon did answer, so
// the query is not sent again.
TEST_P(WireBoth, KeptConnectionClosedInTheReplyIsNotTriedAgain)
{
    int fd = -1;
    ASSERT_TRUE(wire_query(via(GetParam()), fd).ok);
    fault_set_mode(server, fault_mode::close_mid);
    outcome o = wire_query(via(GetParam()), fd);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, "connection closed after 1 of 3 bytes");
    EXPECT_EQ(fault_connections(server), 1);
    EXPECT_EQ(fault_requests(server).size(), 2u);
}

// The daemon closes while the request is still being written: a reason,
// not the end of the console by SIGPIPE.
TEST_F(Wire, PeerClosedWhileTheRequestIsWrittenRaisesNoSignal)
{
    fault_set_answers_per_connection(server, 0);
    int fd = -1;
    outcome o = wire_query(via(transport::unix_socket), fd, LONG_MS,
                           REQUEST + std::string(16 * 1024 * 1024, 'x'));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, "connection closed");
    EXPECT_EQ(fault_requests(server), std::vector<std::string>{REQUEST});
}

// --- faults ---

struct fault_case {
    const char *name;
    fault_mode mode;
    const char *why;
};
void PrintTo(const fault_case &c, std::ostream *os) { *os << c.name; }

class Fault
    : public Wire,
      public testing::WithParamInterface<std::tuple<fault_case, transport, bool>> {};

// Alike whether the body is to be held plain or packed.
TEST_P(Fault, FailsWithItsReasonAndClosesTheConnection)
{
    const auto &[c, t, packed] = GetParam();
    fault_set_answer(server, 200, std::string(1000, 'x'));
    fault_set_mode(server, c.mode);
    int fd = -1;
    const int ms = c.mode == fault_mode::wrong_length_open ? SHORT_MS : LONG_MS;
    outcome o = wire_query(via(t), fd, ms, REQUEST, packed ? 0 : PLAIN);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, c.why);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(fault_connections(server), 1) << "not tried again";
    EXPECT_EQ(fault_requests(server), std::vector<std::string>{REQUEST});
}

const fault_case FAULT_CASES[] = {
    {"CloseMid", fault_mode::close_mid, "connection closed after 500 of 1000 bytes"},
    {"WrongLengthClose", fault_mode::wrong_length_close,
     "connection closed after 1000 of 1100 bytes"},
    {"WrongLengthOpen", fault_mode::wrong_length_open, "timed out"},
    {"BadHeader", fault_mode::bad_header, "the reply's header does not parse"},
    {"Garbage", fault_mode::garbage, "the reply's header does not parse"},
};

INSTANTIATE_TEST_SUITE_P(Modes, Fault,
                         testing::Combine(testing::ValuesIn(FAULT_CASES),
                                          testing::Values(transport::unix_socket, transport::tcp),
                                          testing::Bool()),
                         [](const auto &p) {
                             return std::string(std::get<0>(p.param).name) +
                                    (std::get<1>(p.param) == transport::tcp ? "Tcp" : "Unix") +
                                    (std::get<2>(p.param) ? "Packed" : "");
                         });

// The deadline holds against a daemon that never answers: the query ends
// once it has passed, and not long after (a generous margin for a loaded
// machine).
TEST_P(WireBoth, SilentDaemonTimesOutAtTheDeadline)
{
    fault_set_mode(server, fault_mode::silent);
    int fd = -1;
    const int64_t deadline = livestatus_now_ms() + SHORT_MS;
    livestatus_reply reply;
    std::string why;
    EXPECT_FALSE(livestatus_query(fd, via(GetParam()), REQUEST, deadline, reply, why));
    const int64_t ended = livestatus_now_ms();
    EXPECT_EQ(why, "timed out");
    EXPECT_EQ(fd, -1);
    EXPECT_GE(ended, deadline);
    EXPECT_LE(ended, deadline + 5000);
    EXPECT_EQ(fault_requests(server), std::vector<std::string>{REQUEST});
}

TEST_P(WireBoth, RefusedWhileNotListeningAndServedOnceListeningAgain)
{
    fault_set_mode(server, fault_mode::refuse);
    int fd = -1;
    outcome o = wire_query(via(GetParam()), fd);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, "connection refused");
    EXPECT_EQ(fault_connections(server), 0);

    fault_set_mode(server, fault_mode::answer);
    EXPECT_TRUE(wire_query(via(GetParam()), fd).ok);
    EXPECT_EQ(fault_connections(server), 1);
    livestatus_close(fd);
}

INSTANTIATE_TEST_SUITE_P(Transports, WireBoth,
                         testing::Values(transport::unix_socket, transport::tcp), transport_name);

// --- headers ---

struct header_case {
    const char *name;
    std::string header;
    const char *why;  // empty: it parses, announcing the 3 bytes "abc"
    int status;
};
void PrintTo(const header_case &c, std::ostream *os) { *os << c.name; }

class Header : public Wire, public testing::WithParamInterface<header_case> {};

TEST_P(Header, ParsesOnlyInItsOneLayout)
{
    const header_case &c = GetParam();
    ASSERT_EQ(c.header.size(), 16u) << "the case is a header's size";
    fault_set_header(server, c.header);
    fault_set_answer(server, 200, "abc");
    fault_set_mode(server, fault_mode::bad_header);
    int fd = -1;
    outcome o = wire_query(via(transport::unix_socket), fd);
    EXPECT_EQ(o.why, c.why);
    if (o.ok) {
        EXPECT_EQ(o.reply.status, c.status);
        EXPECT_EQ(wire_body(o.reply), "abc");
    }
    livestatus_close(fd);
}

const header_case HEADER_CASES[] = {
    {"RightAligned", "200           3\n", "", 200},
    {"FullWidth", "200 00000000003\n", "", 200},
    {"OtherStatus", "404           3\n", "", 404},
    {"Http", "HTTP/1.1 200 OK\n", "the reply's header does not parse", 0},
    {"LetterInStatus", "2a0           3\n", "the reply's header does not parse", 0},
    {"FourDigitStatus", "2000          3\n", "the reply's header does not parse", 0},
    {"TabForBlank", "200\t          3\n", "the reply's header does not parse", 0},
    {"LeftAligned", "200 3          \n", "the reply's header does not parse", 0},
    {"BlankInNumber", "200        1 03\n", "the reply's header does not parse", 0},
    {"NoNumber", "200            \n", "the reply's header does not parse", 0},
    {"Minus", "200          -3\n", "the reply's header does not parse", 0},
    {"Plus", "200          +3\n", "the reply's header does not parse", 0},
    {"CarriageReturn", "200          3\r\n", "the reply's header does not parse", 0},
    {"BlankForNewline", "200           3 ", "the reply's header does not parse", 0},
    {"LetterForNewline", "200           3x", "the reply's header does not parse", 0},
    {"Nul", std::string("200          \0" "3\n", 16), "the reply's header does not parse", 0},
    {"OneOverTheLargest", "200  1073741825\n", "reply too large: 1073741825 bytes announced", 0},
    {"ElevenNines", "200 99999999999\n", "reply too large: 99999999999 bytes announced", 0},
};

INSTANTIATE_TEST_SUITE_P(Layouts, Header, testing::ValuesIn(HEADER_CASES),
                         [](const auto &p) { return std::string(p.param.name); });

// The process's address space in bytes (VmSize): a reply's large buffer is
// mapped on its own, beside the heap.
size_t wire_mapped_bytes()
{
    FILE *f = fopen("/proc/self/status", "r");
    char line[256];
    size_t kb = 0;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, "VmSize:", 7) == 0)
            kb = strtoull(line + 7, nullptr, 10);
    if (f)
        fclose(f);
    return kb * 1024;
}

// The largest reply taken is announced, 3 bytes of it come and the daemon
// waits: the reader must not have set aside the announced gigabyte, on the
// heap or mapped.
TEST_F(Wire, AnnouncedLengthIsNotAllocatedBeforeTheBytesCome)
{
    fault_set_header(server, "200  1073741824\n");
    fault_set_answer(server, 200, "abc");
    fault_set_mode(server, fault_mode::bad_header);
    for (const size_t pack_from : {PLAIN, size_t{0}}) {
        SCOPED_TRACE(pack_from == PLAIN ? "plain" : "packed");
        const size_t before = harness_heap_in_use();
        const size_t mapped_before = wire_mapped_bytes();
        size_t most = 0, mapped_most = 0;
        outcome o;
        const size_t asked = fault_requests(server).size();
        std::thread reader([&] {
            int fd = -1;
            o = wire_query(via(transport::unix_socket), fd, 3000, REQUEST, pack_from);
        });
        ASSERT_TRUE(fault_wait_requests(server, asked + 1));
        // Sampled while the reader waits for the rest (until its deadline).
        harness_poll(
            [&] {
                most = std::max(most, harness_heap_in_use());
                mapped_most = std::max(mapped_most, wire_mapped_bytes());
                return false;
            },
            1000);
        reader.join();
        EXPECT_EQ(o.why, "timed out");
        EXPECT_LT(most, before + 64 * 1024 * 1024);
        // The reader's thread reserves a stack and a heap of its own (about
        // 150 MB of address space), far less than the gigabyte.
        EXPECT_LT(mapped_most, mapped_before + 512 * 1024 * 1024);
    }
}

// Once its bytes come, a reply takes its whole length: where the process
// may not have that much, the read fails with its reason (in a child
// process, whose address space is limited to a little more than it has).
TEST_F(Wire, ReplyLargerThanTheMemoryAllowedFailsItsRead)
{
    fault_set_header(server, "200  1073741824\n");
    fault_set_answer(server, 200, std::string(100 * 1024, 'x'));
    fault_set_mode(server, fault_mode::bad_header);
    const site s = via(transport::unix_socket);
    for (const size_t pack_from : {PLAIN, size_t{0}}) {
        SCOPED_TRACE(pack_from == PLAIN ? "plain" : "packed");
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(out[0]);
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = wire_mapped_bytes() + 256 * 1024 * 1024;
            int fd = -1;
            livestatus_reply reply;
            std::string why = "no limit";
            if (setrlimit(RLIMIT_AS, &limit) == 0 &&
                livestatus_query(fd, s, REQUEST, livestatus_now_ms() + LONG_MS, reply, why,
                                 pack_from))
                why = "a reply";
            ssize_t n = write(out[1], why.data(), why.size());
            _exit(n == static_cast<ssize_t>(why.size()) && fd == -1 ? 0 : 1);
        }
        close(out[1]);
        std::string why;
        char buf[256];
        for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
            why.append(buf, static_cast<size_t>(n));
        close(out[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(why, "no memory for a reply of 1073741824 bytes");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// --- paths that are no socket ---

struct path_case {
    const char *name;
    std::string (*make)(const std::string &dir);  // makes the path in dir
    const char *why;
};
void PrintTo(const path_case &c, std::ostream *os) { *os << c.name; }

class NotASocket : public testing::TestWithParam<path_case> {};

TEST_P(NotASocket, FailsAtOnceWithItsReason)
{
    const path_case &c = GetParam();
    const std::string path = c.make(test_dir());
    int fd = -1;
    const int64_t started = livestatus_now_ms();
    outcome o = wire_query(wire_unix_site(path), fd);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.why, c.why);
    EXPECT_LT(livestatus_now_ms() - started, LONG_MS) << "never waits for the deadline";
    // A command goes nowhere either.
    std::string why;
    EXPECT_FALSE(livestatus_command(wire_unix_site(path), "COMMAND [1] X\n",
                                    livestatus_now_ms() + LONG_MS, why));
    EXPECT_EQ(why, c.why);
}

const path_case PATH_CASES[] = {
    {"RegularFile",
     [](const std::string &d) {
         write_file(d + "/live", "GET hosts\n");
         return d + "/live";
     },
     "not a socket"},
    {"Directory",
     [](const std::string &d) {
         fs::create_directory(d + "/live");
         return d + "/live";
     },
     "not a socket"},
    {"Fifo",
     [](const std::string &d) {
         EXPECT_EQ(mkfifo((d + "/live").c_str(), 0600), 0);
         return d + "/live";
     },
     "not a socket"},
    {"Missing", [](const std::string &d) { return d + "/live"; }, "no such file or directory"},
    {"MissingDirectory", [](const std::string &d) { return d + "/run/live"; },
     "no such file or directory"},
    {"UnderAFile",
     [](const std::string &d) {
         write_file(d + "/run", "");
         return d + "/run/live";
     },
     "not a directory"},
    {"Empty", [](const std::string &) { return std::string(); }, "no such file or directory"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, NotASocket, testing::ValuesIn(PATH_CASES),
                         [](const auto &p) { return std::string(p.param.name); });

// A socket deeper than sun_path reaches (107 characters).
TEST(WirePath, LongSocketPathIsReached)
{
    std::string deep = test_dir();
    while (deep.size() < 200)
        deep += "/a-directory-on-the-way";
    fs::create_directories(deep);
    fault_server server = fault_start(deep + "/live");
    ASSERT_TRUE(server.state);
    int fd = -1;
    EXPECT_TRUE(wire_query(wire_unix_site(server.path), fd).ok);
    livestatus_close(fd);
}

// --- TCP ---

TEST_F(Wire, TcpByNameTriesEachAddress)
{
    int fd = -1;
    outcome o = wire_query(wire_tcp_site("localhost", server.port), fd);
    EXPECT_TRUE(o.ok);
    livestatus_close(fd);
    o = wire_query(wire_tcp_site("127.0.0.1", 0), fd);
    EXPECT_EQ(o.why, "port 0 out of range");
}

// Whether ::1 can be bound here; why not, when not.
std::string wire_ipv6_loopback()
{
    const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return strerror(errno);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
    const std::string why = ok ? "" : strerror(errno);
    close(fd);
    return why;
}

TEST(WireIpv6, QueryAndCommandOverLoopback)
{
    const std::string no = wire_ipv6_loopback();
    if (!no.empty())
        GTEST_SKIP() << "::1 cannot be bound here: " << no;
    const std::string dir = test_dir();
    fault_server server = fault_start(dir + "/live", "::1");
    ASSERT_TRUE(server.state);
    fault_set_answer(server, 200, "[[\"v6\"]]\n");
    int fd = -1;
    outcome o = wire_query(wire_tcp_site("::1", server.port), fd);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(wire_body(o.reply), "[[\"v6\"]]\n");
    livestatus_close(fd);
    std::string why;
    EXPECT_TRUE(livestatus_command(wire_tcp_site("::1", server.port), "COMMAND [7] X\n",
                                   livestatus_now_ms() + LONG_MS, why))
        << why;
    ASSERT_TRUE(fault_wait_requests(server, 2));
    EXPECT_EQ(fault_requests(server)[1], "COMMAND [7] X\n\n");
}

// --- commands ---

TEST_P(WireBoth, CommandIsWrittenExactlyOnAConnectionOfItsOwn)
{
    std::string why;
    ASSERT_TRUE(livestatus_command(via(GetParam()), "COMMAND [123] X;a;b\n",
                                   livestatus_now_ms() + LONG_MS, why))
        << why;
    // The server records a connection's last bytes when it ends: anything
    // after the empty line would show as a second request.
    ASSERT_TRUE(harness_poll([&] { return wire_served(server, 1); }));
    EXPECT_EQ(fault_requests(server), std::vector<std::string>{"COMMAND [123] X;a;b\n\n"});
}

struct unsafe_case {
    const char *name;
    std::string line;
    const char *why;
};
void PrintTo(const unsafe_case &c, std::ostream *os) { *os << c.name; }

class UnsafeCommand : public Wire, public testing::WithParamInterface<unsafe_case> {};

TEST_P(UnsafeCommand, IsRefusedAndNothingIsSent)
{
    const unsafe_case &c = GetParam();
    std::string why;
    EXPECT_FALSE(livestatus_command(via(transport::unix_socket), c.line,
                                    livestatus_now_ms() + LONG_MS, why));
    EXPECT_EQ(why, c.why);
    // A good command after it is all that reaches the server.
    ASSERT_TRUE(livestatus_command(via(transport::unix_socket), "COMMAND [2] Y\n",
                                   livestatus_now_ms() + LONG_MS, why))
        << why;
    ASSERT_TRUE(harness_poll([&] { return wire_served(server, 1); }));
    EXPECT_EQ(fault_requests(server), std::vector<std::string>{"COMMAND [2] Y\n\n"});
    EXPECT_EQ(fault_connections(server), 1);
}

const char *const INSIDE = "a NUL, carriage return or line end inside the command: nothing sent";
const unsafe_case UNSAFE_CASES[] = {
    {"SecondLine", "COMMAND [1] A;x\nCOMMAND [1] B;y\n", INSIDE},
    {"EmptyLineInside", "COMMAND [1] A;x\n\n", INSIDE},
    {"CarriageReturn", "COMMAND [1] A;x\r\n", INSIDE},
    {"CarriageReturnInside", "COMMAND [1] A;x\rB\n", INSIDE},
    {"Nul", std::string("COMMAND [1] A;x\0B\n", 18), INSIDE},
    {"NoCommandWord", "[1] A;x\n", "not a COMMAND line: nothing sent"},
    {"Query", "GET hosts\n\n", "not a COMMAND line: nothing sent"},
    {"Empty", "", "not a COMMAND line: nothing sent"},
    {"NoNewline", "COMMAND [1] A;x", "the command does not end in a newline: nothing sent"},
};

INSTANTIATE_TEST_SUITE_P(Lines, UnsafeCommand, testing::ValuesIn(UNSAFE_CASES),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(Wire, CommandToARefusingDaemonFails)
{
    fault_set_mode(server, fault_mode::refuse);
    for (transport t : {transport::unix_socket, transport::tcp}) {
        std::string why;
        EXPECT_FALSE(
            livestatus_command(via(t), "COMMAND [1] X\n", livestatus_now_ms() + LONG_MS, why));
        EXPECT_EQ(why, "connection refused");
    }
}

// --- several sites at once ---

// One reader per site, each in its own thread with its own connection, as
// the console runs them: every reply is the answer to its own request.
TEST_F(Wire, ReadersInThreadsEachGetTheirOwnReplies)
{
    fault_set_answer(server, [](const std::string &request) {
        const size_t at = request.find("Filter: name = ") + 15;
        return fault_answer{200, request.substr(at, request.find('\n', at) - at)};
    });
    constexpr int READERS = 4, QUERIES = 25;
    std::vector<std::string> failures(READERS);
    std::vector<std::thread> readers;
    for (int r = 0; r < READERS; r++)
        readers.emplace_back([&, r] {
            const site s = via(r % 2 ? transport::tcp : transport::unix_socket);
            int fd = -1;
            for (int q = 0; q < QUERIES && failures[r].empty(); q++) {
                const std::string name = "host-" + std::to_string(r) + "-" + std::to_string(q);
                const std::string request = "GET hosts\nFilter: name = " + name +
                                            "\nResponseHeader: fixed16\nKeepAlive: on\n\n";
                livestatus_reply reply;
                std::string why;
                if (!livestatus_query(fd, s, request, livestatus_now_ms() + LONG_MS, reply, why))
                    failures[r] = why;
                else if (std::string(reply.body.data(), reply.length) != name)
                    failures[r] = "the reply of another request";
            }
            livestatus_close(fd);
        });
    for (std::thread &t : readers)
        t.join();
    EXPECT_EQ(failures, std::vector<std::string>(READERS));
    EXPECT_EQ(fault_connections(server), READERS);
    EXPECT_EQ(fault_requests(server).size(), size_t{READERS * QUERIES});
}

}  // namespace
