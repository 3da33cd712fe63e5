// SPDX-License-Identifier: GPL-2.0-or-later
// The Livestatus wire: connections to a site's daemon over a unix socket or
// TCP, requests written whole and fixed16 replies read whole, every step
// bounded by the caller's deadline. Each site's reader runs in a thread of
// its own, so nothing here keeps state between calls, raises a signal or
// uses a library call that is not thread-safe.
#include "livestatus/livestatus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

#include <zstd.h>

namespace {

constexpr size_t HEADER_SIZE = 16;
// The body buffer starts at this, so that a header's length alone never makes
// the reader allocate; once it is full the buffer takes the whole length at
// once. Its bytes are left as they are until received, so that only what
// comes is resident, and a large reply is never held twice while it grows.
constexpr size_t FIRST_CHUNK = 64 * 1024;
// A packed body is received and compressed this much at a time.
constexpr size_t PACK_PIECE = 256 * 1024;
// After a command, how long the daemon's own end of the connection is
// waited for, and how much of what it writes back is taken and dropped.
constexpr int64_t COMMAND_LINGER_MS = 1000;
constexpr size_t COMMAND_LINGER_BYTES = 64 * 1024;

// strerror_r comes in a GNU and a POSIX flavour; these pick its text.
[[maybe_unused]] const char *ls_error_pick(int rc, const char *buf)
{
    return rc == 0 ? buf : "unknown error";
}
[[maybe_unused]] const char *ls_error_pick(const char *text, const char *) { return text; }

// A system text as it goes on the console's line: "connection refused".
std::string ls_lower(const char *text)
{
    std::string out = text;
    if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z')
        out[0] = static_cast<char>(out[0] - 'A' + 'a');
    return out;
}

std::string ls_error_text(int error)
{
    char buf[128];
    return ls_lower(ls_error_pick(strerror_r(error, buf, sizeof buf), buf));
}

// Waits until fd is ready for events or the deadline has passed ("timed
// out"). Ready includes an error or a hang-up: the next call on fd tells.
bool ls_wait(int fd, short events, int64_t deadline_ms, std::string &why)
{
    for (;;) {
        const int64_t left = deadline_ms - livestatus_now_ms();
        pollfd p{fd, events, 0};
        const int ms = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
        const int n = poll(&p, 1, ms);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR) {
            why = ls_error_text(errno);
            return false;
        }
        if (n == 0 && left <= 0) {
            why = "timed out";
            return false;
        }
    }
}

// Completes a non-blocking connect that is under way.
bool ls_connect_finish(int fd, int64_t deadline_ms, std::string &why)
{
    if (!ls_wait(fd, POLLOUT, deadline_ms, why))
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error != 0) {
        why = ls_error_text(error);
        return false;
    }
    return true;
}

// Connects fd (non-blocking) to addr before the deadline.
bool ls_connect_addr(int fd, const sockaddr *addr, socklen_t size, int64_t deadline_ms,
                     std::string &why)
{
    for (;;) {
        if (connect(fd, addr, size) == 0)
            return true;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EINPROGRESS)
            return ls_connect_finish(fd, deadline_ms, why);
        // A unix socket whose queue of connections is full says EAGAIN and
        // keeps no note of the attempt: try again shortly, until the deadline.
        if (error == EAGAIN) {
            const int64_t left = deadline_ms - livestatus_now_ms();
            if (left <= 0) {
                why = "timed out";
                return false;
            }
            poll(nullptr, 0, left < 10 ? static_cast<int>(left) : 10);
            continue;
        }
        why = ls_error_text(error);
        return false;
    }
}

// The unix socket at path. The path is looked up once without opening what
// it names (O_PATH: a FIFO or a device is never opened), its kind judged on
// that very file, and the connect goes to that file through /proc/self/fd,
// which also lifts sun_path's limit of 107 characters.
int ls_connect_unix(const char *path, int64_t deadline_ms, std::string &why)
{
    const int at = open(path, O_PATH | O_CLOEXEC);
    if (at < 0) {
        why = ls_error_text(errno);
        return -1;
    }
    struct stat st;
    if (fstat(at, &st) != 0) {
        why = ls_error_text(errno);
        close(at);
        return -1;
    }
    if (!S_ISSOCK(st.st_mode)) {
        why = "not a socket";
        close(at);
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string same = "/proc/self/fd/" + std::to_string(at);
    memcpy(addr.sun_path, same.c_str(), same.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        why = ls_error_text(errno);
    else if (!ls_connect_addr(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr,
                              deadline_ms, why)) {
        close(fd);
        fd = -1;
    }
    close(at);
    return fd;
}

// A name's lookup, shared by the caller and the thread that asks the
// resolver: whichever lets go of it last frees the addresses.
struct ls_lookup {
    std::mutex m;
    std::condition_variable done_cv;
    bool done = false;
    int rc = 0;
    int error = 0;
    addrinfo *found = nullptr;
    ~ls_lookup()
    {
        if (found)
            freeaddrinfo(found);
    }
};

// getaddrinfo within the deadline. An address in figures is turned at
// once; a name is looked up on a thread of its own, so that a resolver that
// does not answer holds up nothing beyond the deadline (the thread ends
// when the resolver gives up). The caller frees *found.
bool ls_resolve(const site &s, int64_t deadline_ms, addrinfo **found, std::string &why)
{
    const std::string port = std::to_string(s.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    if (getaddrinfo(s.host, port.c_str(), &hints, found) == 0)
        return true;
    *found = nullptr;
    auto job = std::make_shared<ls_lookup>();
    const std::string host = s.host;
    hints.ai_flags = AI_NUMERICSERV;
    const bool spawned = livestatus_spawn([job, host, port, hints] {
        addrinfo *res = nullptr;
        const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
        const int error = errno;
        std::lock_guard<std::mutex> lock(job->m);
        job->rc = rc;
        job->error = error;
        job->found = rc == 0 ? res : nullptr;
        job->done = true;
        job->done_cv.notify_all();
    });
    if (!spawned) {
        why = "no thread for the name's lookup";
        return false;
    }
    std::unique_lock<std::mutex> lock(job->m);
    const int64_t left = deadline_ms - livestatus_now_ms();
    if (!job->done_cv.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(left, 0)),
                               [&] { return job->done; })) {
        why = "timed out looking up " + host;
        return false;
    }
    if (job->rc != 0) {
        why = job->rc == EAI_SYSTEM ? ls_error_text(job->error) : ls_lower(gai_strerror(job->rc));
        return false;
    }
    *found = std::exchange(job->found, nullptr);
    return true;
}

// host:port, each address of the lookup in turn until one answers.
int ls_connect_tcp(const site &s, int64_t deadline_ms, std::string &why)
{
    if (s.port < 1 || s.port > 65535) {
        why = "port " + std::to_string(s.port) + " out of range";
        return -1;
    }
    addrinfo *found = nullptr;
    if (!ls_resolve(s, deadline_ms, &found, why))
        return -1;
    why = "no address";
    int fd = -1;
    for (const addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = ls_error_text(errno);
            continue;
        }
        if (!ls_connect_addr(fd, a->ai_addr, a->ai_addrlen, deadline_ms, why)) {
            close(fd);
            fd = -1;
            if (why == "timed out")
                break;
        }
    }
    freeaddrinfo(found);
    if (fd >= 0)
        why.clear();
    return fd;
}

int ls_connect(const site &s, int64_t deadline_ms, std::string &why)
{
    switch (s.kind) {
    case SITE_LIVESTATUS_UNIX: return ls_connect_unix(s.path, deadline_ms, why);
    case SITE_LIVESTATUS_TCP: return ls_connect_tcp(s, deadline_ms, why);
    default:
        why = "not a Livestatus site";
        return -1;
    }
}

// How a send or a read ended.
enum class ls_end {
    done,
    failed,  // why says what
    closed,  // the peer closed the connection (or reset it)
};

// Writes all of data, never raising SIGPIPE.
ls_end ls_send_all(int fd, std::string_view data, int64_t deadline_ms, std::string &why)
{
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            if (!ls_wait(fd, POLLOUT, deadline_ms, why))
                return ls_end::failed;
            continue;
        }
        if (error == EPIPE || error == ECONNRESET) {
            why = error == EPIPE ? "connection closed" : ls_error_text(error);
            return ls_end::closed;
        }
        why = ls_error_text(error);
        return ls_end::failed;
    }
    return ls_end::done;
}

// Reads up to size bytes into buf, at least one; got is how many.
ls_end ls_recv_some(int fd, char *buf, size_t size, int64_t deadline_ms, size_t &got,
                    std::string &why)
{
    for (;;) {
        const ssize_t n = recv(fd, buf, size, 0);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return ls_end::done;
        }
        if (n == 0)
            return ls_end::closed;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            if (!ls_wait(fd, POLLIN, deadline_ms, why))
                return ls_end::failed;
            continue;
        }
        why = ls_error_text(error);
        return error == ECONNRESET ? ls_end::closed : ls_end::failed;
    }
}

// "SSS" " " then the length right-aligned in 11 characters and "\n".
bool ls_header_parse(const char *h, int &status, uint64_t &length)
{
    for (int i = 0; i < 3; i++)
        if (h[i] < '0' || h[i] > '9')
            return false;
    if (h[3] != ' ' || h[15] != '\n')
        return false;
    int i = 4;
    while (i < 15 && h[i] == ' ')
        i++;
    if (i == 15)
        return false;
    uint64_t n = 0;
    for (; i < 15; i++) {
        if (h[i] < '0' || h[i] > '9')
            return false;
        n = n * 10 + static_cast<uint64_t>(h[i] - '0');  // 11 digits fit
    }
    status = (h[0] - '0') * 100 + (h[1] - '0') * 10 + (h[2] - '0');
    length = n;
    return true;
}

// Receives more of a body of length bytes of which filled have come: the
// peer's end before the last is a failed read, saying how far it came.
ls_end ls_recv_body(int fd, char *buf, size_t size, int64_t deadline_ms, size_t filled,
                    size_t length, size_t &got, std::string &why)
{
    const ls_end e = ls_recv_some(fd, buf, size, deadline_ms, got, why);
    if (e != ls_end::closed)
        return e;
    why = "connection closed after " + std::to_string(filled) + " of " + std::to_string(length) +
          " bytes";
    return ls_end::failed;
}

struct ls_cctx_free {
    void operator()(ZSTD_CCtx *c) const { ZSTD_freeCCtx(c); }
};

// Receives a body of length bytes into reply packed, compressed a piece at
// a time as it comes. The frame's room, the most it can take, is reserved
// once the first FIRST_CHUNK bytes have come, as a plain body's whole
// length is; only what is written of it becomes resident.
ls_end ls_receive_packed(int fd, size_t length, int64_t deadline_ms, livestatus_reply &reply,
                         std::string &why)
{
    std::unique_ptr<ZSTD_CCtx, ls_cctx_free> cctx(ZSTD_createCCtx());
    if (!cctx || ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, 1)) ||
        ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(cctx.get(), length))) {
        why = "no memory to pack a reply";
        return ls_end::failed;
    }
    std::vector<char> piece(PACK_PIECE);
    livestatus_bytes frame;
    size_t filled = 0, held = 0, written = 0;  // held: bytes of piece not yet packed
    while (filled < length) {
        size_t got = 0;
        const ls_end e = ls_recv_body(fd, piece.data() + held,
                                      std::min(piece.size() - held, length - filled), deadline_ms,
                                      filled, length, got, why);
        if (e != ls_end::done)
            return e;
        filled += got;
        held += got;
        if (held < FIRST_CHUNK && filled < length)
            continue;
        if (frame.empty()) {
            try {
                frame.resize(ZSTD_compressBound(length));
            } catch (const std::bad_alloc &) {
                why = "no memory for a reply of " + std::to_string(length) + " bytes";
                return ls_end::failed;
            }
        }
        ZSTD_inBuffer in{piece.data(), held, 0};
        const ZSTD_EndDirective mode = filled == length ? ZSTD_e_end : ZSTD_e_continue;
        for (;;) {
            ZSTD_outBuffer out{frame.data(), frame.size(), written};
            const size_t left = ZSTD_compressStream2(cctx.get(), &out, &in, mode);
            written = out.pos;
            if (ZSTD_isError(left)) {
                why = std::string("cannot pack the reply: ") + ZSTD_getErrorName(left);
                return ls_end::failed;
            }
            if (mode == ZSTD_e_end ? left == 0 : in.pos == in.size)
                break;
            if (written == frame.size()) {  // never, with room for the most it takes
                why = "cannot pack the reply: no room";
                return ls_end::failed;
            }
        }
        held = 0;
    }
    reply.status = 200;
    reply.length = length;
    reply.packed = std::move(frame);
    reply.packed_length = written;
    return ls_end::done;
}

// One request and its reply on fd. closed: the peer closed the connection
// before a byte of the reply came (a kept connection may have been closed
// by the daemon meanwhile: the caller may try once more on a new one).
ls_end ls_exchange(int fd, const std::string &request, int64_t deadline_ms,
                   livestatus_reply &reply, std::string &why, size_t pack_from)
{
    ls_end e = ls_send_all(fd, request, deadline_ms, why);
    if (e != ls_end::done)
        return e;

    char header[HEADER_SIZE];
    size_t have = 0;
    while (have < HEADER_SIZE) {
        size_t got = 0;
        e = ls_recv_some(fd, header + have, HEADER_SIZE - have, deadline_ms, got, why);
        if (e == ls_end::closed) {
            if (have == 0)
                return ls_end::closed;
            why = "connection closed";
            return ls_end::failed;
        }
        if (e != ls_end::done)
            return e;
        have += got;
    }
    int status = 0;
    uint64_t announced = 0;
    if (!ls_header_parse(header, status, announced)) {
        why = "the reply's header does not parse";
        return ls_end::failed;
    }
    if (announced > LIVESTATUS_MAX_REPLY) {
        why = "reply too large: " + std::to_string(announced) + " bytes announced";
        return ls_end::failed;
    }
    const size_t length = static_cast<size_t>(announced);
    if (status == 200 && length > pack_from)
        return ls_receive_packed(fd, length, deadline_ms, reply, why);

    livestatus_bytes body(std::min(length, FIRST_CHUNK) + LIVESTATUS_PADDING);
    size_t filled = 0;
    while (filled < length) {
        size_t room = body.size() - LIVESTATUS_PADDING;
        if (filled == room) {
            room = length;
            livestatus_bytes larger;
            try {
                larger.resize(room + LIVESTATUS_PADDING);
            } catch (const std::bad_alloc &) {
                why = "no memory for a reply of " + std::to_string(length) + " bytes";
                return ls_end::failed;
            }
            // A copy by hand: the vector's own would go byte by byte.
            memcpy(larger.data(), body.data(), filled);
            body.swap(larger);
        }
        size_t got = 0;
        e = ls_recv_body(fd, body.data() + filled, room - filled, deadline_ms, filled, length, got,
                         why);
        if (e != ls_end::done)
            return e;
        filled += got;
    }
    std::fill(body.end() - LIVESTATUS_PADDING, body.end(), '\0');
    reply.status = status;
    reply.length = length;
    reply.body = std::move(body);
    return ls_end::done;
}

// A kept connection is reused only while it is quiet: nothing to read on
// it, since a closed one reads as its end and stray bytes would be taken
// for the next reply's.
bool ls_quiet(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int n;
    do
        n = poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n == 0;
}

}  // namespace

int64_t livestatus_now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool livestatus_spawn(std::function<void()> work)
{
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    bool spawned = true;
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error &) {
        spawned = false;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return spawned;
}

bool livestatus_query(int &fd, const site &s, const std::string &request, int64_t deadline_ms,
                      livestatus_reply &reply, std::string &why, size_t pack_from)
{
    reply = livestatus_reply{};
    why.clear();
    bool kept = fd >= 0;
    if (kept && !ls_quiet(fd)) {
        livestatus_close(fd);
        kept = false;
    }
    for (;;) {
        if (fd < 0) {
            fd = ls_connect(s, deadline_ms, why);
            if (fd < 0)
                return false;
        }
        const ls_end e = ls_exchange(fd, request, deadline_ms, reply, why, pack_from);
        if (e == ls_end::done)
            return true;
        livestatus_close(fd);
        if (e == ls_end::closed && kept) {
            // Once only: the daemon may have closed an idle connection.
            kept = false;
            why.clear();
            continue;
        }
        if (e == ls_end::closed && why.empty())
            why = "connection closed";
        return false;
    }
}

bool livestatus_command(const site &s, const std::string &line, int64_t deadline_ms,
                        std::string &why)
{
    why.clear();
    const std::string_view head = "COMMAND ";
    if (line.compare(0, head.size(), head) != 0) {
        why = "not a COMMAND line: nothing sent";
        return false;
    }
    if (line.back() != '\n') {
        why = "the command does not end in a newline: nothing sent";
        return false;
    }
    // One line only: a line end or a NUL inside would let the daemon read
    // the rest as a command of its own.
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != line.size() - 1) {
        why = "a NUL, carriage return or line end inside the command: nothing sent";
        return false;
    }
    int fd = ls_connect(s, deadline_ms, why);
    if (fd < 0)
        return false;
    std::string whole = line;
    whole += '\n';
    const ls_end e = ls_send_all(fd, whole, deadline_ms, why);
    if (e == ls_end::done) {
        // The command is sent. Some daemons answer it even so: the end of
        // the connection is theirs to make, or they meet a broken pipe; a
        // peer that neither answers nor closes is left after a moment.
        shutdown(fd, SHUT_WR);
        const int64_t linger = std::min(deadline_ms, livestatus_now_ms() + COMMAND_LINGER_MS);
        char buf[4096];
        size_t got = 0, taken = 0;
        std::string ignored;
        while (taken < COMMAND_LINGER_BYTES &&
               ls_recv_some(fd, buf, sizeof buf, linger, got, ignored) == ls_end::done)
            taken += got;
        livestatus_close(fd);
        return true;
    }
    livestatus_close(fd);
    if (why.empty())
        why = "connection closed";
    return false;
}

livestatus_bytes livestatus_unpack(const livestatus_reply &reply, std::string &why)
{
    if (reply.packed_length == 0)
        return reply.body;
    livestatus_bytes body;
    try {
        body.resize(reply.length + LIVESTATUS_PADDING);
    } catch (const std::bad_alloc &) {
        why = "no memory for a reply of " + std::to_string(reply.length) + " bytes";
        return {};
    }
    const size_t n =
        ZSTD_decompress(body.data(), reply.length, reply.packed.data(), reply.packed_length);
    if (ZSTD_isError(n) || n != reply.length) {
        why = "cannot unpack the reply";
        return {};
    }
    std::fill(body.end() - LIVESTATUS_PADDING, body.end(), '\0');
    return body;
}

void livestatus_close(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}
