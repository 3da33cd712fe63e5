// SPDX-License-Identifier: GPL-2.0-or-later
// The misbehaving Livestatus peer of the tests: one thread accepts, one
// thread per connection serves it. Every wait of every thread also watches
// the stop event, so that the server ends at once whatever it is doing.
#include "fault_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <set>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t GARBAGE_SIZE = 10 * 1024 * 1024;

struct fault_handler {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

}  // namespace

struct fault_state {
    std::mutex lock;
    std::condition_variable applied_cv;
    // what the test sets
    fault_mode mode = fault_mode::answer;
    fault_answer_fn answer = [](const std::string &) { return fault_answer{}; };
    std::string header = "HTTP/1.1 200 OK\n";
    fault_answer error{400, "bad request\n"};
    int per_connection = -1;
    // what the test reads
    std::vector<std::string> requests;
    int connections = 0;
    std::set<int> open;  // connections being served
    // mode changes to and from refuse, asked by the test, made by the acceptor
    uint64_t asked = 0, applied = 0;

    int stop_fd = -1;  // an eventfd written once: every wait ends
    int wake_fd = -1;  // an eventfd that wakes the acceptor
    // the acceptor's own
    int dir_fd = -1;   // the socket's directory (sun_path is too short for some paths)
    std::string base;  // the socket's name in it
    int unix_fd = -1, tcp_fd = -1;
    std::string tcp_host;
    int tcp_port = 0;
    std::thread acceptor;
    std::list<fault_handler> handlers;
};

namespace {

std::string fault_errno(const char *what)
{
    return std::string(what) + ": " + strerror(errno);
}

std::string fault_header(int status, size_t length)
{
    char h[32];
    snprintf(h, sizeof h, "%03d %11zu\n", status, length);
    return h;
}

// Waits for events on fd or the stop event; false once stopped.
bool fault_wait(const fault_state &st, int fd, short events)
{
    for (;;) {
        pollfd p[2] = {{st.stop_fd, POLLIN, 0}, {fd, events, 0}};
        const int n = poll(p, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || p[0].revents)
            return false;
        if (p[1].revents)
            return true;
    }
}

// Sends all of data; false when the peer went away or the server stops.
bool fault_send(const fault_state &st, int fd, const std::string &data)
{
    size_t at = 0;
    while (at < data.size()) {
        const ssize_t n = send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            at += static_cast<size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!fault_wait(st, fd, POLLOUT))
                return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Reads whatever comes, never answering, until the peer closes or the
// server stops.
void fault_hold(const fault_state &st, int fd)
{
    char buf[4096];
    while (fault_wait(st, fd, POLLIN)) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return;
    }
}

std::string fault_garbage()
{
    std::mt19937 random(20240611);
    std::string out(GARBAGE_SIZE, '\0');
    for (char &c : out)
        c = static_cast<char>(random() & 0xff);
    return out;
}

// Reads one request, up to and with its empty line, from buf and then fd.
// False when the connection ends first (its last bytes, if any, are
// recorded as they are) or the server stops.
bool fault_read_request(fault_state &st, int fd, std::string &buf, std::string &request)
{
    size_t end;
    while ((end = buf.find("\n\n")) == std::string::npos) {
        if (!fault_wait(st, fd, POLLIN))
            return false;
        char chunk[4096];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            if (!buf.empty()) {
                std::lock_guard<std::mutex> g(st.lock);
                st.requests.push_back(buf);
            }
            return false;
        }
        buf.append(chunk, static_cast<size_t>(n));
    }
    request = buf.substr(0, end + 2);
    buf.erase(0, end + 2);
    return true;
}

// Serves one connection request by request, each by the mode in force when
// it was read.
void fault_serve(fault_state &st, int fd)
{
    std::string buf, request;
    int answered = 0;
    while (fault_read_request(st, fd, buf, request)) {
        fault_mode mode;
        fault_answer_fn answer;
        std::string header;
        fault_answer error;
        int per_connection;
        {
            std::lock_guard<std::mutex> g(st.lock);
            st.requests.push_back(request);
            mode = st.mode;
            answer = st.answer;
            header = st.header;
            error = st.error;
            per_connection = st.per_connection;
        }
        // A command gets no reply; the daemon reads on.
        if (request.rfind("COMMAND ", 0) == 0)
            continue;
        if (per_connection >= 0 && answered >= per_connection)
            break;
        const bool keep = request.find("\nKeepAlive: on\n") != std::string::npos;
        if (mode == fault_mode::silent) {
            fault_hold(st, fd);
            break;
        }
        if (mode == fault_mode::refuse)
            break;
        if (mode == fault_mode::garbage) {
            fault_send(st, fd, fault_garbage());
            break;
        }
        if (mode == fault_mode::error) {
            fault_send(st, fd, fault_header(error.status, error.body.size()) + error.body);
            break;
        }
        const fault_answer a = answer(request);
        const std::string &body = a.body;
        if (mode == fault_mode::answer) {
            if (!fault_send(st, fd, fault_header(a.status, body.size()) + body))
                break;
            answered++;
            if (keep)
                continue;
        } else if (mode == fault_mode::close_mid) {
            const std::string half = body.substr(0, body.size() / 2);
            fault_send(st, fd, fault_header(a.status, body.size()) + half);
        } else if (mode == fault_mode::bad_header) {
            // A header that announces more than is sent must be seen to
            // wait for the rest, not to end in a close.
            if (fault_send(st, fd, header + body))
                fault_hold(st, fd);
        } else {
            const bool sent =
                fault_send(st, fd, fault_header(a.status, body.size() + FAULT_SHORTFALL) + body);
            if (sent && mode == fault_mode::wrong_length_open)
                fault_hold(st, fd);
        }
        break;
    }
    {
        std::lock_guard<std::mutex> g(st.lock);
        st.open.erase(fd);
    }
    close(fd);
}

// Opens the listening sockets (the acceptor's, or the start's before it
// runs). The unix socket is bound through its directory's descriptor, so
// that a path longer than sun_path takes works too.
std::string fault_listen(fault_state &st)
{
    unlinkat(st.dir_fd, st.base.c_str(), 0);
    st.unix_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (st.unix_fd < 0)
        return fault_errno("socket");
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    const std::string where = "/proc/self/fd/" + std::to_string(st.dir_fd) + "/" + st.base;
    if (where.size() >= sizeof un.sun_path)
        return "the socket's name " + st.base + " is too long";
    memcpy(un.sun_path, where.c_str(), where.size() + 1);
    if (bind(st.unix_fd, reinterpret_cast<const sockaddr *>(&un), sizeof un) != 0)
        return fault_errno("bind");
    if (listen(st.unix_fd, 64) != 0)
        return fault_errno("listen");
    if (st.tcp_host.empty())
        return "";

    sockaddr_storage ss{};
    socklen_t size;
    const bool v6 = st.tcp_host.find(':') != std::string::npos;
    if (v6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(st.tcp_port));
        if (inet_pton(AF_INET6, st.tcp_host.c_str(), &a->sin6_addr) != 1)
            return "not an address: " + st.tcp_host;
        size = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&ss);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(st.tcp_port));
        if (inet_pton(AF_INET, st.tcp_host.c_str(), &a->sin_addr) != 1)
            return "not an address: " + st.tcp_host;
        size = sizeof *a;
    }
    st.tcp_fd = socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (st.tcp_fd < 0)
        return fault_errno("socket");
    const int on = 1;
    setsockopt(st.tcp_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6)
        setsockopt(st.tcp_fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (bind(st.tcp_fd, reinterpret_cast<const sockaddr *>(&ss), size) != 0)
        return fault_errno(("bind " + st.tcp_host).c_str());
    if (listen(st.tcp_fd, 64) != 0)
        return fault_errno("listen");
    size = sizeof ss;
    getsockname(st.tcp_fd, reinterpret_cast<sockaddr *>(&ss), &size);
    st.tcp_port = ntohs(v6 ? reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port
                           : reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
    return "";
}

// Closes the listening sockets; the socket file stays, so that a connect
// to it is refused rather than not finding it.
void fault_unlisten(fault_state &st)
{
    for (int *fd : {&st.unix_fd, &st.tcp_fd}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void fault_accept(fault_state &st, int listener)
{
    const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    std::lock_guard<std::mutex> g(st.lock);
    st.connections++;
    st.open.insert(fd);
    // Handlers that have ended are joined here, so that a long run (the
    // console polling for minutes) keeps no pile of them.
    st.handlers.remove_if([](fault_handler &h) {
        if (!*h.done)
            return false;
        h.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    st.handlers.push_back({std::thread([&st, fd, done] {
                               fault_serve(st, fd);
                               *done = true;
                           }),
                           done});
}

void fault_acceptor(fault_state &st)
{
    for (;;) {
        pollfd p[4] = {{st.stop_fd, POLLIN, 0},
                       {st.wake_fd, POLLIN, 0},
                       {st.unix_fd, POLLIN, 0},
                       {st.tcp_fd, POLLIN, 0}};
        if (poll(p, 4, -1) < 0) {
            if (errno == EINTR)
                continue;
            ADD_FAILURE() << fault_errno("fault server: poll");
            return;
        }
        if (p[0].revents)
            return;
        if (p[1].revents) {
            uint64_t n;
            if (read(st.wake_fd, &n, sizeof n) < 0) {
                // nothing to drain
            }
            std::unique_lock<std::mutex> g(st.lock);
            const bool want = st.mode != fault_mode::refuse;
            const uint64_t asked = st.asked;
            g.unlock();
            if (want && st.unix_fd < 0) {
                const std::string failed = fault_listen(st);
                if (!failed.empty())
                    ADD_FAILURE() << "fault server: " << failed;
            } else if (!want && st.unix_fd >= 0) {
                fault_unlisten(st);
            }
            g.lock();
            st.applied = asked;
            st.applied_cv.notify_all();
            continue;
        }
        for (int i : {2, 3})
            if (p[i].fd >= 0 && p[i].revents)
                fault_accept(st, p[i].fd);
    }
}

}  // namespace

fault_server fault_start(const std::string &path, const std::string &tcp_host)
{
    fault_server f;
    f.path = path;
    auto st = std::make_shared<fault_state>();
    fs::path p(path);
    const std::string dir = p.has_parent_path() ? p.parent_path().string() : ".";
    st->base = p.filename().string();
    st->tcp_host = tcp_host;
    st->dir_fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    st->stop_fd = eventfd(0, EFD_CLOEXEC);
    st->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::string failed = st->dir_fd < 0 ? fault_errno(("open " + dir).c_str())
                         : st->stop_fd < 0 || st->wake_fd < 0 ? fault_errno("eventfd")
                                                              : fault_listen(*st);
    if (!failed.empty()) {
        ADD_FAILURE() << "fault server on " << path << ": " << failed;
        fault_unlisten(*st);
        for (int fd : {st->dir_fd, st->stop_fd, st->wake_fd})
            if (fd >= 0)
                close(fd);
        return f;
    }
    f.host = tcp_host;
    f.port = st->tcp_port;
    fault_state &s = *st;
    st->acceptor = std::thread([&s] { fault_acceptor(s); });
    f.state = std::move(st);
    return f;
}

void fault_stop(fault_server &f)
{
    if (!f.state)
        return;
    fault_state &st = *f.state;
    const uint64_t one = 1;
    if (write(st.stop_fd, &one, sizeof one) != sizeof one)
        ADD_FAILURE() << fault_errno("fault server: stop");
    st.acceptor.join();
    // No handler is added once the acceptor has ended.
    for (fault_handler &h : st.handlers)
        h.thread.join();
    st.handlers.clear();
    fault_unlisten(st);
    struct stat sb;
    if (fstatat(st.dir_fd, st.base.c_str(), &sb, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(sb.st_mode))
        unlinkat(st.dir_fd, st.base.c_str(), 0);
    for (int fd : {st.dir_fd, st.stop_fd, st.wake_fd})
        close(fd);
    f.state.reset();
}

fault_server::~fault_server() { fault_stop(*this); }

void fault_set_mode(fault_server &f, fault_mode mode)
{
    if (!f.state)
        return;
    fault_state &st = *f.state;
    std::unique_lock<std::mutex> g(st.lock);
    st.mode = mode;
    const uint64_t mine = ++st.asked;
    const uint64_t one = 1;
    if (write(st.wake_fd, &one, sizeof one) != sizeof one)
        ADD_FAILURE() << fault_errno("fault server: wake");
    if (!st.applied_cv.wait_for(g, std::chrono::milliseconds(WAIT_MS),
                                [&] { return st.applied >= mine; }))
        ADD_FAILURE() << "fault server: the mode change was not made";
}

void fault_set_answer(fault_server &f, int status, const std::string &body)
{
    fault_set_answer(f, [status, body](const std::string &) { return fault_answer{status, body}; });
}

void fault_set_answer(fault_server &f, fault_answer_fn fn)
{
    if (!f.state)
        return;
    std::lock_guard<std::mutex> g(f.state->lock);
    f.state->answer = std::move(fn);
}

void fault_set_header(fault_server &f, const std::string &raw)
{
    if (!f.state)
        return;
    std::lock_guard<std::mutex> g(f.state->lock);
    f.state->header = raw;
}

void fault_set_error(fault_server &f, int status, const std::string &message)
{
    if (!f.state)
        return;
    std::lock_guard<std::mutex> g(f.state->lock);
    f.state->error = {status, message};
}

void fault_set_answers_per_connection(fault_server &f, int n)
{
    if (!f.state)
        return;
    std::lock_guard<std::mutex> g(f.state->lock);
    f.state->per_connection = n;
}

void fault_drop(fault_server &f)
{
    if (!f.state)
        return;
    // Each descriptor stays its handler's, which takes it out of the set
    // before closing it: shutdown only makes the handler see the end.
    std::lock_guard<std::mutex> g(f.state->lock);
    for (int fd : f.state->open)
        shutdown(fd, SHUT_RDWR);
}

std::vector<std::string> fault_requests(const fault_server &f)
{
    if (!f.state)
        return {};
    std::lock_guard<std::mutex> g(f.state->lock);
    return f.state->requests;
}

int fault_connections(const fault_server &f)
{
    if (!f.state)
        return 0;
    std::lock_guard<std::mutex> g(f.state->lock);
    return f.state->connections;
}

int fault_open(const fault_server &f)
{
    if (!f.state)
        return 0;
    std::lock_guard<std::mutex> g(f.state->lock);
    return static_cast<int>(f.state->open.size());
}

bool fault_wait_requests(const fault_server &f, size_t n, int timeout_ms)
{
    return harness_poll([&] { return fault_requests(f).size() >= n; }, timeout_ms);
}
