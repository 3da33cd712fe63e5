// SPDX-License-Identifier: GPL-2.0-or-later
// The Livestatus reader: queries a site's daemon over its socket and turns
// the JSON replies into the snapshot's items, as the status reader does.
#ifndef LIVESTATUS_LIVESTATUS_H
#define LIVESTATUS_LIVESTATUS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <sys/mman.h>

#include "quelvan.h"

// Room a JSON parser may read past a body's end (simdjson's padding).
constexpr size_t LIVESTATUS_PADDING = 64;
// The largest body taken: a header announcing more fails the read.
constexpr size_t LIVESTATUS_MAX_REPLY = size_t{1} << 30;

// Leaves the bytes a vector grows by uninitialised: a reply's buffer is
// written by the socket reads anyway, and zeroing tens of megabytes first
// cost as much as receiving them. A large buffer is mapped on its own, so
// that its memory goes back at once when it is freed: from the heap of the
// thread that received it, it stayed resident after every refresh.
template <typename T>
struct livestatus_raw_alloc : std::allocator<T> {
    static constexpr size_t MAPPED = size_t{1} << 20;
    template <typename U>
    struct rebind {
        using other = livestatus_raw_alloc<U>;
    };
    livestatus_raw_alloc() = default;
    template <typename U>
    livestatus_raw_alloc(const livestatus_raw_alloc<U> &) noexcept
    {
    }
    T *allocate(size_t n)
    {
        if (n < MAPPED / sizeof(T))
            return std::allocator<T>::allocate(n);
        void *p = mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t n) noexcept
    {
        if (n < MAPPED / sizeof(T))
            std::allocator<T>::deallocate(p, n);
        else
            munmap(p, n * sizeof(T));
    }
    template <typename U>
    void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <typename U, typename... A>
    void construct(U *p, A &&...a)
    {
        ::new (static_cast<void *>(p)) U(std::forward<A>(a)...);
    }
};
using livestatus_bytes = std::vector<char, livestatus_raw_alloc<char>>;

// A reply of a site's table larger than this is held packed (one zstd
// frame, compressed as its bytes come): a site's view stays in memory until
// the new read is judged, and beside it the bodies held plain were half
// again its size.
constexpr size_t LIVESTATUS_PACK_FROM = size_t{1} << 20;

struct livestatus_reply {
    int status = 0;            // the fixed16 header's status, 200 for success
    livestatus_bytes body;     // the body, then LIVESTATUS_PADDING zero bytes; empty when packed
    size_t length = 0;         // the body's length
    livestatus_bytes packed;   // a packed body: its frame, in the first packed_length bytes
    size_t packed_length = 0;  // 0: the body is plain
};

// Milliseconds of the monotonic clock: the deadlines below.
int64_t livestatus_now_ms();
// Runs work on a detached thread of its own with every signal blocked (the
// signals stay with the main thread, whose wait they end); false when no
// thread can be had.
bool livestatus_spawn(std::function<void()> work);
// Sends request (whole, ending in its empty line, with ResponseHeader:
// fixed16) on the site's connection fd (opened when -1, kept open for the
// next query; a kept connection that the peer closed is opened once again)
// and reads the whole reply before deadline. False with why ("connection
// refused", "timed out", ...) when there is no whole reply; fd is then
// closed and -1. A status other than 200 is a reply: the caller judges it.
// A successful body of more than pack_from bytes is held packed.
bool livestatus_query(int &fd, const site &s, const std::string &request, int64_t deadline_ms,
                      livestatus_reply &reply, std::string &why, size_t pack_from = SIZE_MAX);
// The body of a reply as it came, plain or packed, then LIVESTATUS_PADDING
// zero bytes; empty with why where a packed body cannot be unpacked.
livestatus_bytes livestatus_unpack(const livestatus_reply &reply, std::string &why);
// Sends one command line ("COMMAND [t] NAME;args\n") on a connection of its
// own, whole, before deadline; false with why otherwise.
bool livestatus_command(const site &s, const std::string &line, int64_t deadline_ms,
                        std::string &why);
// Closes fd when open.
void livestatus_close(int &fd);

// The replies of one read of a site, before anything of them is taken.
struct livestatus_fetched {
    livestatus_reply status;    // GET status: the daemon's start time
    livestatus_reply hosts;     // GET hosts
    livestatus_reply services;  // GET services
    int64_t now = 0;            // the time of the reply: the site's present moment
    bool checked = false;       // livestatus_check found that the replies make a read
    bool whole = false;         // and that their rows are to be walked whole
};
// Queries the site's tables on fd before deadline; touches nothing but its
// arguments, so that sites are fetched side by side. False with why (an
// error status with its message among the reasons).
bool livestatus_fetch(int &fd, const site &s, int64_t deadline_ms, livestatus_fetched &f,
                      std::string &why, size_t pack_from = LIVESTATUS_PACK_FROM);
// Sees that fetched replies parse into rows of the columns asked for that
// the tables can hold, touching nothing but f (a fetch's thread does it);
// false with why where they do not. Replies so checked always fill.
bool livestatus_check(livestatus_fetched &f, std::string &why);
// Reads the replies into the tables through the completion steps (hooks
// included); false with why where a reply does not parse, its rows are not
// of the columns asked for or the tables cannot hold them: the tables then
// hold a partial read.
bool livestatus_fill(const livestatus_fetched &f, std::string &why);
// The description of each service of the last fill as the site gave it
// (a text in the snapshot's arena), by the service's index.
extern std::vector<char *> livestatus_descriptions;

// For the detail screen, on a connection of its own: the object's record
// (service null: the host) as a status file's stanza, and its comments and
// downtimes as the stanzas a status file has for them. Empty with why when
// the site gives nothing.
std::string livestatus_stanza(const site &s, const char *host, const char *service,
                              int64_t deadline_ms, std::string &why);
std::string livestatus_notes(const site &s, const char *host, const char *service,
                             int64_t deadline_ms, std::string &why);

#endif
