// SPDX-License-Identifier: GPL-2.0-or-later
// What a Livestatus daemon sends for the three queries of one read (status,
// hosts, services), header and body, the parts joined by a line "--" (that
// line and the newline before it belong to no part). A thread serves the
// parts in turn on a socket pair, one per request, to livestatus_fetch,
// which holds the tables' bodies packed but for short ones, as a large
// site's are; livestatus_check judges the replies, and livestatus_fill
// takes them into the tables through the completion steps and the hooks.
// Fatal errors return here through the wrapped exit().
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "fuzz_exit.h"
#include "fuzz_reader.h"
#include "livestatus/livestatus.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"

namespace {

// Between two parts.
constexpr std::string_view PART_END = "\n--\n";
constexpr int PARTS = 3;
// Tables' bodies longer than this are held packed, as a large site's are.
constexpr size_t FUZZ_PACK_FROM = 256;

// The longest text a status file's line gives (and so the snapshot's).
constexpr size_t TEXT_MAX = TEXT_SIZE - 1;

// The descriptors the process holds open.
int fuzz_open_fds()
{
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        abort();
    int open = 0;
    while (readdir(d))
        open++;
    closedir(d);
    return open;
}

std::vector<std::string_view> fuzz_split(std::string_view in)
{
    std::vector<std::string_view> parts;
    while (static_cast<int>(parts.size()) < PARTS - 1) {
        const size_t at = in.find(PART_END);
        if (at == std::string_view::npos)
            break;
        parts.push_back(in.substr(0, at));
        in.remove_prefix(at + PART_END.size());
    }
    parts.push_back(in);
    return parts;
}

// Whether the reader, having this part, waits for more of it: too short for
// a header, or the header's digits (read loosely: a header the reader
// rejects ends its read anyway) announce more than follows.
bool fuzz_part_short(std::string_view part)
{
    if (part.size() < 16)
        return true;
    uint64_t n = 0;
    for (size_t i = 4; i < 15; i++)
        if (part[i] >= '0' && part[i] <= '9')
            n = n * 10 + static_cast<uint64_t>(part[i] - '0');
    return n > part.size() - 16;
}

// Reads one request, up to its empty line; false when the peer is gone.
bool fuzz_read_request(int fd)
{
    std::string got;
    char buf[512];
    while (got.find("\n\n") == std::string::npos) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got.append(buf, static_cast<size_t>(n));
    }
    // The reader sends one request at a time and waits for its reply.
    if (got.size() != got.find("\n\n") + 2 || got.compare(0, 4, "GET ") != 0)
        abort();
    return true;
}

bool fuzz_send(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The daemon's side: a part for each request, the connection closed where
// the reader would otherwise wait for bytes that never come.
void fuzz_serve(int fd, std::vector<std::string_view> parts)
{
    for (std::string_view part : parts) {
        if (!fuzz_read_request(fd) || !fuzz_send(fd, part) || fuzz_part_short(part))
            break;
    }
    close(fd);
}

site fuzz_site;

// A good read of a few items, taken before each input's own, so that what
// a failed read leaves behind meets the release of a real snapshot.
livestatus_fetched fuzz_earlier;

livestatus_reply fuzz_reply(std::string_view body)
{
    livestatus_reply r;
    r.status = 200;
    r.length = body.size();
    r.body.assign(body.begin(), body.end());
    r.body.resize(body.size() + LIVESTATUS_PADDING, '\0');
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_reader_setup();
    // A connection given up is opened anew at the path: there is no socket
    // there, so that attempt fails at once.
    fuzz_site.kind = SITE_LIVESTATUS_UNIX;
    strcpy(fuzz_site.name, "fuzz");
    strcpy(fuzz_site.path, "no-daemon.sock");
    fuzz_earlier.status = fuzz_reply("[[1765390000]]\n");
    fuzz_earlier.hosts = fuzz_reply(R"([["web01",0,1,"PING OK",1765391000,0,0],)"
                                    R"(["db01",1,1,"CRITICAL",1765392000,1,1]])");
    fuzz_earlier.services = fuzz_reply(R"([["web01","HTTP",0,1,"HTTP OK",1765391000,0,0],)"
                                       R"(["db01","disk",2,1,"DISK CRITICAL",0,0,1]])");
    fuzz_earlier.now = 1765400000;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int before = fuzz_open_fds();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0 ||
        fcntl(pair[0], F_SETFL, O_NONBLOCK) != 0)
        abort();
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    std::thread server(fuzz_serve, pair[1], fuzz_split(in));

    int fd = pair[0];
    livestatus_fetched fetched;
    std::string why;
    // Every part is served or the connection closed: the deadline is never
    // what ends a read.
    const bool ok = livestatus_fetch(fd, fuzz_site, livestatus_now_ms() + 20000, fetched, why,
                                     FUZZ_PACK_FROM);
    if (ok != why.empty() || why == "timed out" || (fd != -1 && fd != pair[0]))
        abort();
    livestatus_close(fd);
    server.join();
    if (fuzz_open_fds() != before)
        abort();
    if (!ok)
        return 0;
    // Replies that the check refuses the fill refuses alike, for the same
    // reason; those it passes always fill.
    const bool refused = !livestatus_check(fetched, why);
    if (refused == why.empty() || refused == fetched.checked)
        abort();
    for (const livestatus_reply *r : {&fetched.status, &fetched.hosts, &fetched.services}) {
        const bool packed = r->length > FUZZ_PACK_FROM && r != &fetched.status;
        if (r->status != 200 || packed != (r->packed_length != 0) ||
            r->body.size() != (packed ? 0 : r->length + LIVESTATUS_PADDING))
            abort();
    }
    const std::string refusal = why;

    status_release();
    if (!livestatus_fill(fuzz_earlier, why) || host_list_size != 2 || service_list_size != 2)
        abort();
    fuzz_reader_check();
    status_release();
    if (setjmp(fuzz_exit_jump) == 0) {
        fuzz_exit_armed = true;
        why.clear();
        const bool filled = livestatus_fill(fetched, why);
        fuzz_exit_armed = false;
        if (filled != why.empty() || filled == refused || (refused && why != refusal))
            abort();
        fuzz_reader_check();
        if (filled) {
            if (livestatus_descriptions.size() != static_cast<size_t>(service_list_size))
                abort();
            for (const char *d : livestatus_descriptions)
                if (!fuzz_reader_text_ok(d, TEXT_MAX))
                    abort();
            status_order_by_age();
            fuzz_reader_check_order();
        }
    } else if (fuzz_exit_status != 1) {
        abort();  // every fatal error ends with status 1
    }
    if (fuzz_open_fds() != before)
        abort();
    return 0;
}
