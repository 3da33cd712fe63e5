// SPDX-License-Identifier: GPL-2.0-or-later
// Stanzas of a status file, and the comments and downtimes among them that
// belong to one object.
#include <charconv>
#include <cstring>
#include <string_view>

#include "detail/detail.h"

namespace {

bool stanza_blank(char c) { return c == ' ' || c == '\t'; }

// One line of [text, text + len) from at: its first non-blank byte, its end
// (before the newline) and where the next line starts.
struct stanza_line {
    size_t begin;
    size_t end;
    size_t next;
};

stanza_line stanza_line_at(const char *text, size_t len, size_t at)
{
    const void *nl = memchr(text + at, '\n', len - at);
    size_t end = nl ? static_cast<size_t>(static_cast<const char *>(nl) - text) : len;
    size_t begin = at;
    while (begin < end && stanza_blank(text[begin]))
        begin++;
    return {begin, end, nl ? end + 1 : len};
}

// The end of a line's last non-blank byte; a CR counts as blank here only.
size_t stanza_trim_end(const char *text, size_t begin, size_t end)
{
    while (end > begin && (stanza_blank(text[end - 1]) || text[end - 1] == '\r'))
        end--;
    return end;
}

// A header line "type {": the length of its type, 0 when the line is none.
size_t stanza_header_type(const char *text, const stanza_line &l)
{
    size_t end = stanza_trim_end(text, l.begin, l.end);
    if (end == l.begin || text[end - 1] != '{')
        return 0;
    size_t type = l.begin;
    while (type < end - 1 && !stanza_blank(text[type]) && text[type] != '=')
        type++;
    size_t rest = type;
    while (rest < end - 1 && stanza_blank(text[rest]))
        rest++;
    return rest == end - 1 ? type - l.begin : 0;
}

bool stanza_closing(const char *text, const stanza_line &l)
{
    return stanza_trim_end(text, l.begin, l.end) == l.begin + 1 && text[l.begin] == '}';
}

// Reads the body of the stanza whose header line ends before at, up to and
// with its closing line; a line that is another stanza's header ends it
// unconsumed (a stanza cut short). Each key/value line goes to field, when
// given. Returns where the stanza ends.
template <typename Field>
size_t stanza_body(const char *text, size_t len, size_t at, Field field)
{
    while (at < len) {
        stanza_line l = stanza_line_at(text, len, at);
        if (stanza_closing(text, l))
            return l.next;
        const void *eq = memchr(text + l.begin, '=', l.end - l.begin);
        if (!eq && stanza_header_type(text, l) != 0)
            return at;
        if (eq) {
            size_t e = static_cast<size_t>(static_cast<const char *>(eq) - text);
            field(text + l.begin, e - l.begin, text + e + 1, l.end - e - 1);
        }
        at = l.next;
    }
    return len;
}

long long stanza_number(const detail_stanza &s, const char *key)
{
    const std::string *v = detail_value(s, key);
    if (!v)
        return 0;
    const char *p = v->data();
    const char *end = p + v->size();
    while (p < end && stanza_blank(*p))
        p++;
    if (p < end && *p == '+')
        p++;
    long long n = 0;
    if (std::from_chars(p, end, n).ec != std::errc())
        return 0;
    return n;
}

std::string stanza_text(const detail_stanza &s, const char *key)
{
    const std::string *v = detail_value(s, key);
    return v ? *v : std::string();
}

bool stanza_is(const detail_stanza &s, const char *key, const char *want)
{
    const std::string *v = detail_value(s, key);
    return v && *v == want;
}

}  // namespace

const std::string *detail_value(const detail_stanza &s, const char *key)
{
    for (const detail_field &f : s.fields)
        if (f.key == key)
            return &f.value;
    return nullptr;
}

size_t detail_read_stanza(const char *text, size_t len, detail_stanza &out)
{
    out.type.clear();
    out.fields.clear();
    if (len == 0)
        return 0;
    stanza_line head = stanza_line_at(text, len, 0);
    size_t type = stanza_header_type(text, head);
    if (type == 0)
        return 0;
    out.type.assign(text + head.begin, type);
    return stanza_body(text, len, head.next,
                       [&out](const char *key, size_t key_len, const char *value, size_t value_len) {
                           out.fields.push_back({std::string(key, key_len), std::string(value, value_len)});
                       });
}

void detail_notes(const char *text, size_t len, const char *host, const char *service,
                  std::vector<detail_comment> &comments, std::vector<detail_downtime> &downtimes)
{
    if (!host)
        return;
    const std::string comment_type = service ? "servicecomment" : "hostcomment";
    const std::string downtime_type = service ? "servicedowntime" : "hostdowntime";
    detail_stanza s;
    size_t at = 0;
    while (at < len) {
        stanza_line head = stanza_line_at(text, len, at);
        size_t type = stanza_header_type(text, head);
        if (type == 0) {
            at = head.next;
            continue;
        }
        std::string_view name(text + head.begin, type);
        if (name != comment_type && name != downtime_type) {
            // The many status stanzas are passed over without a copy.
            at = stanza_body(text, len, head.next, [](const char *, size_t, const char *, size_t) {});
            continue;
        }
        at += detail_read_stanza(text + at, len - at, s);
        if (!stanza_is(s, "host_name", host) ||
            (service && !stanza_is(s, "service_description", service)))
            continue;
        if (s.type == comment_type) {
            long long entry_type = stanza_number(s, "entry_type");
            if (entry_type < 0 || entry_type > 4)
                entry_type = 0;  // no type the daemon knows
            comments.push_back({static_cast<int>(entry_type),
                                stanza_number(s, "entry_time"), stanza_number(s, "persistent") != 0,
                                stanza_number(s, "expires") != 0, stanza_number(s, "expire_time"),
                                stanza_text(s, "author"), stanza_text(s, "comment_data")});
        } else {
            downtimes.push_back({stanza_number(s, "entry_time"), stanza_number(s, "start_time"),
                                 stanza_number(s, "end_time"), stanza_number(s, "fixed") != 0,
                                 stanza_number(s, "duration"), stanza_number(s, "is_in_effect") != 0,
                                 stanza_text(s, "author"), stanza_text(s, "comment")});
        }
    }
}
