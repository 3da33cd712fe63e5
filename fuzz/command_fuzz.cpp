// SPDX-License-Identifier: GPL-2.0-or-later
// Command lines of any names and comments: either a refusal, or exactly one
// line the daemon reads as meant: one newline, at its end; no control
// character; at most PIPE_BUF bytes; the names as given in their own fields;
// a comment of valid UTF-8 still valid.
//
// Input: one byte of choices (action = byte % 6; bit 3 a service; bit 4
// normal acknowledgements; bit 5 no notification; bit 6 a downtime that
// ends before it starts), then host, service and comment separated by NULs.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command/command.h"
#include "quelvan.h"

namespace {

constexpr long long FUZZ_NOW = 1700000000;

// The fields before the comment (all of them where there is none), the
// command's name the first.
size_t fuzz_fields(int action, bool service)
{
    const size_t of[] = {6, 2, 8, 3, 2, 2};
    return of[action] + (service ? 1 : 0);
}

bool fuzz_utf8(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; k++)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += n;
    }
    return true;
}

void fuzz_check(bool ok)
{
    if (!ok)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int choice = data[0];
    const int action = choice % 6;
    const bool has_service = choice & 8;
    std::vector<std::string> parts(3);
    size_t part = 0;
    for (size_t i = 1; i < size && part < parts.size(); i++) {
        if (data[i] == 0)
            part++;
        else
            parts[part] += static_cast<char>(data[i]);
    }
    const std::string &host = parts[0], &service = parts[1], &comment = parts[2];

    settings_reset();
    ack_sticky = !(choice & 16);
    ack_notify = !(choice & 32);
    const long long end = choice & 64 ? FUZZ_NOW - 1 : FUZZ_NOW + 3600;
    std::string line = "untouched", why;
    const bool ok = command_build(action, host.c_str(), has_service ? service.c_str() : nullptr,
                                  "fuzz", comment.c_str(), FUZZ_NOW, end, line, why);
    if (!ok) {
        fuzz_check(!why.empty() && line == "untouched");
        return 0;
    }
    fuzz_check(why.empty() && !line.empty() && line.size() <= PIPE_BUF);
    fuzz_check(line.find('\n') == line.size() - 1);
    for (size_t i = 0; i + 1 < line.size(); i++) {
        const auto c = static_cast<unsigned char>(line[i]);
        fuzz_check(c >= 0x20 && c != 0x7f);
        fuzz_check(!(c == 0xc2 && static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
                     static_cast<unsigned char>(line[i + 1]) <= 0x9f));
    }
    // The fields: the name, the host, the service, then the fixed ones; an
    // acknowledgement's comment alone may hold more ';'.
    std::vector<std::string> fields;
    const std::string body = line.substr(0, line.size() - 1);
    for (size_t at = 0;;) {
        size_t semi = body.find(';', at);
        fields.push_back(body.substr(at, semi == std::string::npos ? semi : semi - at));
        if (semi == std::string::npos)
            break;
        at = semi + 1;
    }
    const size_t fixed = fuzz_fields(action, has_service);
    const bool comments = action == ACTION_ACK || action == ACTION_DOWNTIME;
    fuzz_check(action == ACTION_ACK ? fields.size() >= fixed + 1
                                    : fields.size() == fixed + (comments ? 1 : 0));
    fuzz_check(fields[1] == host);
    if (has_service)
        fuzz_check(fields[2] == service);
    if (comments) {
        fuzz_check(fields[fixed - 1] == "fuzz");
        size_t head = 0;
        for (size_t k = 0; k < fixed; k++)
            head = body.find(';', head) + 1;
        const std::string text = body.substr(head);
        fuzz_check(!fuzz_utf8(comment) || fuzz_utf8(text));
        fuzz_check(text.size() <= comment.size());
    }
    return 0;
}
