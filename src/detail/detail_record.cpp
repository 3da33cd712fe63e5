// SPDX-License-Identifier: GPL-2.0-or-later
// The record of one object as rows of the detail screen: its stanza read
// again from the snapshot's file, with its comments and downtimes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "detail/detail.h"
#include "detail/detail_private.h"
#include "livestatus/livestatus.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"

namespace {

// A stanza is read up to its closing line; a file without one stops here.
constexpr size_t RECORD_STANZA_MAX = 16u << 20;
// The comments and downtimes follow the last object: a file with more
// behind it than this is read only this far.
constexpr size_t RECORD_NOTES_MAX = 64u << 20;
constexpr size_t RECORD_CHUNK = 64 * 1024;
// The longest a Livestatus site is waited for while the screen opens.
constexpr int64_t RECORD_WAIT_SECONDS = 3;

// The label column of the record's rows.
constexpr int RECORD_LABEL = 16;

// Whether text holds, after a newline at or behind *at, a line whose first
// non-blank byte is the closing brace; *at is where the next look resumes.
bool record_closed(const std::string &text, size_t *at)
{
    for (size_t nl; (nl = text.find('\n', *at)) != std::string::npos;) {
        size_t p = nl + 1;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
            p++;
        if (p >= text.size())
            return false;  // the line's start may not be all there yet
        if (text[p] == '}')
            return true;
        *at = nl + 1;
    }
    return false;
}

// Bytes of the snapshot's file from offset: up to the end of its stanza
// when one_stanza, else up to the end of the file; never more than cap.
std::string record_pread(int fd, int64_t offset, size_t cap, bool one_stanza)
{
    std::string text;
    if (fd < 0 || offset < 0)
        return text;
    size_t scanned = 0;
    while (text.size() < cap) {
        const size_t want = std::min(RECORD_CHUNK, cap - text.size());
        const size_t old = text.size();
        text.resize(old + want);
        ssize_t n = pread(fd, text.data() + old, want, static_cast<off_t>(offset + old));
        if (n < 0 && errno == EINTR) {
            text.resize(old);
            continue;
        }
        text.resize(old + static_cast<size_t>(n > 0 ? n : 0));
        if (n <= 0)
            break;
        if (one_stanza && record_closed(text, &scanned))
            break;
    }
    return text;
}

long long record_number(const detail_stanza &s, const char *key, long long absent)
{
    const std::string *v = detail_value(s, key);
    return v ? strtoll(v->c_str(), nullptr, 10) : absent;
}

// The list's 16-character time text of t.
std::string record_time(long long t)
{
    char text[17];
    status_change_text(static_cast<int>(std::clamp<long long>(t, INT32_MIN, INT32_MAX)), text);
    return text;
}

std::string record_duration(long long since)
{
    char text[40];
    size_t n = complete_duration(static_cast<int>(std::clamp<long long>(since, INT32_MIN,
                                                                         INT32_MAX)),
                                 text);
    return std::string(text, n);
}

struct record_builder {
    std::vector<detail_row> &rows;
    long long width;

    void add(const std::string &text, int pair = PAIR_BASE)
    {
        rows.push_back({draw_cut(text.c_str(), width), pair});
    }
    // A label and its value wrapped behind it; the value's later rows are
    // indented to the value's column.
    void field(const char *label, const std::string &value, int pair = PAIR_BASE)
    {
        std::string head = std::string(label);
        head.resize(RECORD_LABEL, ' ');
        const long long room = width - RECORD_LABEL;
        if (room < 8) {
            add(label, pair);
            for (std::string &r : draw_wrap(value.data(), value.size(), width))
                rows.push_back({std::move(r), pair});
            return;
        }
        bool first = true;
        for (std::string &r : draw_wrap(value.data(), value.size(), room)) {
            rows.push_back({(first ? head : std::string(RECORD_LABEL, ' ')) + r, pair});
            first = false;
        }
    }
    // A text of its own rows, indented by two columns.
    void block(const std::string &text)
    {
        const long long room = std::max(width - 2, 1LL);
        for (std::string &r : draw_wrap(text.data(), text.size(), room))
            rows.push_back({"  " + r, PAIR_BASE});
    }
};

void record_perfdata(record_builder &b, const std::string &text)
{
    std::vector<detail_metric> metrics = detail_perfdata(text.data(), text.size());
    if (metrics.empty())
        return;
    b.add("Performance data");
    // Column widths from what is there, each within a bound.
    size_t wl = 5, wv = 5, ww = 4, wc = 4, wmin = 3, wmax = 3;
    for (const detail_metric &m : metrics) {
        if (!m.parsed)
            continue;
        wl = std::max<size_t>(wl, static_cast<size_t>(draw_width(m.label.c_str())));
        wv = std::max(wv, m.value.size() + m.unit.size());
        ww = std::max(ww, m.warn.size());
        wc = std::max(wc, m.crit.size());
        wmin = std::max(wmin, m.min.size());
        wmax = std::max(wmax, m.max.size());
    }
    wl = std::min<size_t>(wl, 24);
    wv = std::min<size_t>(wv, 16);
    ww = std::min<size_t>(ww, 12);
    wc = std::min<size_t>(wc, 12);
    wmin = std::min<size_t>(wmin, 10);
    wmax = std::min<size_t>(wmax, 10);
    auto cell = [](const std::string &s, size_t w) {
        std::string c = draw_cut(s.c_str(), static_cast<long long>(w));
        int cols = draw_width(c.c_str());
        c.append(w + 1 - std::min(w, static_cast<size_t>(cols)), ' ');
        return c;
    };
    const std::string heading = "  " + cell("label", wl) + cell("value", wv) +
                                cell("warn", ww) + cell("crit", wc) + cell("min", wmin) +
                                cell("max", wmax);
    b.add(heading);
    const long long bar = std::min<long long>(b.width - static_cast<long long>(heading.size()),
                                              12);
    for (const detail_metric &m : metrics) {
        if (!m.parsed) {
            b.add("  " + m.raw);
            continue;
        }
        std::string row = "  " + cell(m.label, wl) + cell(m.value + m.unit, wv) +
                          cell(m.warn, ww) + cell(m.crit, wc) + cell(m.min, wmin) +
                          cell(m.max, wmax);
        if (bar >= 3)
            row += detail_bar(m, static_cast<int>(bar));
        b.add(row);
    }
}

// The services of a host by state name, as "5 OKAY, 1 CRITICAL".
std::string record_service_counts(const char *host)
{
    static const char *const names[] = {"OKAY", "WARNING", "CRITICAL", "UNKNOWN", "PENDING"};
    int counts[6] = {};
    for (int i = 0; i < service_list_size; i++) {
        const item &it = service_list[i];
        if (!it.host_name || strcmp(it.host_name, host) != 0)
            continue;
        int k = 5;
        for (int n = 0; n < 5; n++)
            if (it.current_state && strcmp(it.current_state, names[n]) == 0)
                k = n;
        counts[k]++;
    }
    std::string text;
    for (int n = 0; n < 6; n++) {
        if (counts[n] == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += std::to_string(counts[n]) + " " + (n < 5 ? names[n] : "other");
    }
    return text.empty() ? "none" : text;
}

// The state of the first host of that name, or null.
const char *record_host_state(const char *host)
{
    for (int i = 0; i < host_list_size; i++)
        if (host_list[i].host_name && strcmp(host_list[i].host_name, host) == 0)
            return host_list[i].current_state ? host_list[i].current_state : "(no state)";
    return nullptr;
}

// The text the record of item idx is read from: its stanza, or (notes) the
// comment and downtime stanzas of its source. A Livestatus site's are its
// last answer, asked for in the background; with now (a command is to be
// sent) it is asked at once. A site that has stopped answering is not
// asked: the list's item is all there is.
std::string record_source(int mode, int idx, bool notes, bool now)
{
    const int k = site_of_item(mode, idx);
    if (k >= 0 && sites[k].kind != SITE_STATUS) {
        std::string host, service, why;
        if (!now) {
            std::string stanza, tail;
            site_record(mode, idx, stanza, tail, why);
            return notes ? tail : stanza;
        }
        if (site_stale(k) || !site_source_names(mode, idx, host, service))
            return "";
        const int64_t deadline =
            livestatus_now_ms() + std::min<int64_t>(site_timeout_secs, RECORD_WAIT_SECONDS) * 1000;
        const char *svc = mode == 0 ? nullptr : service.c_str();
        return notes ? livestatus_notes(sites[k], host.c_str(), svc, deadline, why)
                     : livestatus_stanza(sites[k], host.c_str(), svc, deadline, why);
    }
    const int fd = site_snapshot_fd(k);
    if (notes)
        return record_pread(fd, site_notes_offset(k), RECORD_NOTES_MAX, false);
    const int64_t offset = mode == 0 ? host_idx_to_offset[idx] : service_idx_to_offset[idx];
    return record_pread(fd, offset, RECORD_STANZA_MAX, true);
}

void record_notes(record_builder &b, const detail_stanza &s, bool host, int mode, int idx)
{
    const std::string *name = detail_value(s, "host_name");
    const std::string *description = host ? nullptr : detail_value(s, "service_description");
    if (!name || (!host && !description))
        return;
    std::string tail = record_source(mode, idx, true, false);
    std::vector<detail_comment> comments;
    std::vector<detail_downtime> downtimes;
    detail_notes(tail.data(), tail.size(), name->c_str(),
                 description ? description->c_str() : nullptr, comments, downtimes);

    if (record_number(s, "problem_has_been_acknowledged", 0) != 0) {
        const long long type = record_number(s, "acknowledgement_type", 0);
        const char *kind = type == 2 ? "sticky" : "normal";
        // The newest acknowledgement comment tells who and why.
        auto c = std::find_if(comments.rbegin(), comments.rend(),
                              [](const detail_comment &n) { return n.entry_type == 4; });
        if (c == comments.rend()) {
            b.field("Acknowledged", kind);
        } else {
            b.field("Acknowledged", "by " + c->author + " at " + record_time(c->entry_time) +
                                        ", " + kind);
            b.field("", c->text);
        }
    }
    for (const detail_downtime &d : downtimes) {
        b.field(d.in_effect ? "In downtime" : "Downtime",
                "by " + d.author + ", " + record_time(d.start_time) + " to " +
                    record_time(d.end_time) + (d.fixed ? "" : ", flexible"));
        b.field("", d.text);
    }
    for (const detail_comment &c : comments)
        if (c.entry_type == 1) {
            b.field("Comment", "by " + c.author + " at " + record_time(c.entry_time));
            b.field("", c.text);
        }
}

}  // namespace

// Where a Livestatus site's answer is awaited or did not come, the row that
// says so (the rest is the list's item alone).
static void record_asked(record_builder &b, int mode, int idx)
{
    std::string stanza, notes, why;
    const int k = site_of_item(mode, idx);
    switch (site_record(mode, idx, stanza, notes, why)) {
    case SITE_RECORD_ASKING:
        b.field("Record", std::string("asking site ") + sites[k].name);
        break;
    case SITE_RECORD_FAILED:
        b.field("Record", std::string("not given by site ") + sites[k].name + " (" + why + ")");
        break;
    default:
        break;
    }
}

// The object's stanza, read again from the snapshot's file.
static detail_stanza record_stanza(int mode, int idx, bool now)
{
    std::string text = record_source(mode, idx, false, now);
    detail_stanza s;
    detail_read_stanza(text.data(), text.size(), s);
    return s;
}

bool detail_facts(int mode, int idx, std::string &host, std::string &service,
                  bool &notifications)
{
    detail_stanza s = record_stanza(mode, idx, true);
    const std::string *h = detail_value(s, "host_name");
    const std::string *d = mode == 0 ? nullptr : detail_value(s, "service_description");
    if (!h || (mode != 0 && !d))
        return false;
    host = *h;
    service = d ? *d : "";
    notifications = record_number(s, "notifications_enabled", 1) != 0;
    return true;
}

std::vector<detail_row> detail_record(int mode, int idx, long long width)
{
    std::vector<detail_row> rows;
    record_builder b{rows, std::max(width, 1LL)};
    const bool host = mode == 0;
    const item &it = host ? host_list[idx] : service_list[idx];
    const int level = std::clamp(host ? host_idx_to_level[idx] : service_idx_to_level[idx], 0, 2);

    const detail_stanza s = record_stanza(mode, idx, false);

    b.field(host ? "Host" : "Service",
            host ? (it.host_name ? it.host_name : "") : (it.service_description ? it.service_description : ""));
    std::string state = it.current_state ? it.current_state : "(no state)";
    const long long attempt = record_number(s, "current_attempt", -1);
    const long long attempts = record_number(s, "max_attempts", -1);
    const long long type = record_number(s, "state_type", -1);
    if (strcmp(state.c_str(), "PENDING") != 0 && (type == 0 || type == 1)) {
        state += type == 1 ? " (HARD" : " (SOFT";
        if (attempt >= 0 && attempts > 0)
            state += ", attempt " + std::to_string(attempt) + "/" + std::to_string(attempts);
        state += ")";
    }
    b.field("State", state, level + 1);
    if (!host && it.host_name) {
        if (const char *h = record_host_state(it.host_name))
            b.field("Host state", h);
    }
    b.field("Output", it.plugin_output ? it.plugin_output : "");

    if (const std::string *v = detail_value(s, "long_plugin_output"); v && !v->empty()) {
        std::string lines = detail_unescape(v->data(), v->size());
        perl_hook(host ? HOOK_HOST : HOOK_SERVICE, lines.data());
        lines.resize(strlen(lines.c_str()));  // the hook may have made it shorter
        b.add("Long output");
        size_t start = 0;
        for (;;) {
            size_t nl = lines.find('\n', start);
            b.block(lines.substr(start, nl == std::string::npos ? nl : nl - start));
            if (nl == std::string::npos)
                break;
            start = nl + 1;
        }
    }
    if (const std::string *v = detail_value(s, "performance_data"); v && !v->empty())
        record_perfdata(b, *v);

    const long long last_check = record_number(s, "last_check", -1);
    if (last_check > 0)
        b.field("Last check", record_time(last_check) + "  " + record_duration(last_check) +
                                  " ago");
    else if (last_check == 0)
        b.field("Last check", "never");
    const long long next_check = record_number(s, "next_check", 0);
    if (next_check > 0)
        b.field("Next check", record_time(next_check));
    b.field("Last change", std::string(it.last_change ? it.last_change : "") + "  " +
                               (it.duration ? it.duration : ""));
    if (const std::string *v = detail_value(s, "check_latency"))
        b.field("Check latency", *v + " s");
    if (const std::string *v = detail_value(s, "check_execution_time"))
        b.field("Execution time", *v + " s");
    if (host)
        b.field("Services", record_service_counts(it.host_name ? it.host_name : ""));

    record_notes(b, s, host, mode, idx);
    if (record_number(s, "notifications_enabled", 1) == 0)
        b.field("Notifications", "disabled");
    if (record_number(s, "active_checks_enabled", 1) == 0)
        b.field("Active checks", record_number(s, "passive_checks_enabled", 0) != 0
                                     ? "disabled, passive only"
                                     : "disabled");
    else if (record_number(s, "check_type", 0) == 1)
        b.field("Checks", "passive");
    if (record_number(s, "is_flapping", 0) != 0) {
        const std::string *pct = detail_value(s, "percent_state_change");
        b.field("Flapping", pct ? *pct + "% state change" : "yes");
    }
    record_asked(b, mode, idx);
    return rows;
}
