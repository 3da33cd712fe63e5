// SPDX-License-Identifier: GPL-2.0-or-later
// The detail screen's texts on any bytes: each input is read as a long
// output, as performance data and as stanzas, and what comes back is checked
// against what the input allows.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "detail/detail.h"

namespace {

void fuzz_check(bool ok)
{
    if (!ok)
        abort();
}

void fuzz_perfdata(const char *text, size_t len)
{
    std::string_view input(text, len);
    size_t at = 0;
    for (const detail_metric &m : detail_perfdata(text, len)) {
        // Each piece is the input's next bytes, in order.
        size_t found = input.find(m.raw, at);
        fuzz_check(!m.raw.empty() && found != std::string_view::npos);
        at = found + m.raw.size();
        if (m.parsed)
            fuzz_check(!m.label.empty() && !m.value.empty() && m.label.size() < m.raw.size());
        else
            fuzz_check(m.label.empty() && m.value.empty() && m.unit.empty() && m.max.empty());
        for (int width : {0, 1, 2, 3, 12, 80, 1000}) {
            std::string bar = detail_bar(m, width);
            fuzz_check(bar.empty() || bar.size() == static_cast<size_t>(width));
            if (bar.size() >= 3)
                fuzz_check(bar.front() == '[' && bar.back() == ']');
            std::string_view cells(bar);
            if (bar.size() >= 3)
                cells = cells.substr(1, cells.size() - 2);
            size_t filled = cells.find_first_not_of('#');
            fuzz_check(filled == std::string_view::npos ||
                       cells.find_first_not_of(' ', filled) == std::string_view::npos);
        }
    }
}

void fuzz_stanzas(const char *text, size_t len)
{
    const char *host = nullptr;
    const char *service = nullptr;
    std::vector<detail_stanza> read;
    size_t headers = 0;
    for (size_t at = 0; at < len;) {
        detail_stanza s;
        size_t used = detail_read_stanza(text + at, len - at, s);
        fuzz_check(used <= len - at && (used == 0) == s.type.empty());
        for (const detail_field &f : s.fields)
            fuzz_check(f.key.find('\n') == std::string::npos && f.value.find('\n') == std::string::npos);
        if (used == 0) {
            fuzz_check(s.fields.empty());
            const void *nl = memchr(text + at, '\n', len - at);
            at = nl ? static_cast<size_t>(static_cast<const char *>(nl) - text) + 1 : len;
            continue;
        }
        headers++;
        at += used;
        read.push_back(std::move(s));
    }
    // The object to look for: the first one a stanza names.
    for (const detail_stanza &s : read) {
        if (!host)
            host = detail_value(s, "host_name") ? detail_value(s, "host_name")->c_str() : nullptr;
        if (host && !service)
            service = detail_value(s, "service_description") ? detail_value(s, "service_description")->c_str()
                                                             : nullptr;
    }
    std::vector<detail_comment> comments;
    std::vector<detail_downtime> downtimes;
    detail_notes(text, len, host ? host : "", nullptr, comments, downtimes);
    detail_notes(text, len, host ? host : "", service, comments, downtimes);
    detail_notes(text, len, nullptr, service, comments, downtimes);
    // Each stanza is one note at most, once for the host and once for its service.
    fuzz_check(comments.size() + downtimes.size() <= 2 * headers);
    for (const detail_comment &c : comments)
        fuzz_check(c.entry_type >= 0 && c.entry_type <= 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    std::string meant = detail_unescape(text, size);
    fuzz_check(meant.size() <= size);
    if (std::string_view(text, size).find('\\') == std::string_view::npos)
        fuzz_check(meant == std::string_view(text, size));
    fuzz_perfdata(text, size);
    fuzz_stanzas(text, size);
    return 0;
}
