// SPDX-License-Identifier: GPL-2.0-or-later
// The Livestatus reader: queries a site's daemon over its socket and turns
// the JSON replies into the snapshot's items, as the status reader does.
#ifndef LIVESTATUS_LIVESTATUS_H
#define LIVESTATUS_LIVESTATUS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quelvan.h"

// Room a JSON parser may read past a body's end (simdjson's padding).
constexpr size_t LIVESTATUS_PADDING = 64;
// The largest body taken: a header announcing more fails the read.
constexpr size_t LIVESTATUS_MAX_REPLY = size_t{1} << 30;

struct livestatus_reply {
    int status = 0;            // the fixed16 header's status, 200 for success
    std::vector<char> body;    // the body, then LIVESTATUS_PADDING zero bytes
    size_t length = 0;         // the body's length
};

// Milliseconds of the monotonic clock: the deadlines below.
int64_t livestatus_now_ms();
// Sends request (whole, ending in its empty line, with ResponseHeader:
// fixed16) on the site's connection fd (opened when -1, kept open for the
// next query; a kept connection that the peer closed is opened once again)
// and reads the whole reply before deadline. False with why ("connection
// refused", "timed out", ...) when there is no whole reply; fd is then
// closed and -1. A status other than 200 is a reply: the caller judges it.
bool livestatus_query(int &fd, const site &s, const std::string &request, int64_t deadline_ms,
                      livestatus_reply &reply, std::string &why);
// Sends one command line ("COMMAND [t] NAME;args\n") on a connection of its
// own, whole, before deadline; false with why otherwise.
bool livestatus_command(const site &s, const std::string &line, int64_t deadline_ms,
                        std::string &why);
// Closes fd when open.
void livestatus_close(int &fd);

#endif
