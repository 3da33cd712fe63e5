// SPDX-License-Identifier: GPL-2.0-or-later
// A site's snapshot over Livestatus: one query per table, whose JSON rows
// become items through the same completion steps as the stanzas of a status
// file, so that both give the same items.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include <simdjson.h>
#include <zstd.h>

#include "livestatus/livestatus.h"
#include "quelvan.h"
#include "status/status.h"

namespace {

// The columns each item needs, in the order the completion takes them.
constexpr const char *READ_HOST_COLUMNS[] = {
    "name",         "state",           "has_been_checked", "plugin_output", "last_state_change",
    "acknowledged", "scheduled_downtime_depth"};
constexpr const char *READ_SERVICE_COLUMNS[] = {
    "host_name",         "description",  "state",
    "has_been_checked",  "plugin_output", "last_state_change",
    "acknowledged",      "scheduled_downtime_depth"};
constexpr size_t READ_MAX_COLUMNS = 8;

// What a status file's line would keep of a value: the reader judges the
// first 1023 characters of "\tkey=value".
constexpr size_t read_cut(const char *file_key)
{
    return TEXT_SIZE - 1 - 1 - std::char_traits<char>::length(file_key) - 1;
}

template <size_t N>
std::string read_request(const char *table, const char *const (&columns)[N])
{
    std::string r = "GET ";
    r += table;
    r += "\nColumns:";
    for (const char *c : columns) {
        r += ' ';
        r += c;
    }
    r += "\nOutputFormat: json\nResponseHeader: fixed16\nKeepAlive: on\n\n";
    return r;
}

// An error reply's first line, as a short reason.
std::string read_error_reason(const livestatus_reply &reply)
{
    std::string why = "error " + std::to_string(reply.status);
    std::string text;
    for (size_t i = 0; i < reply.length && text.size() < 80; i++) {
        const unsigned char c = static_cast<unsigned char>(reply.body[i]);
        if (c == '\n' && !text.empty())
            break;
        if (c >= 0x20 && c < 0x7f)
            text += static_cast<char>(c);
        else if (c != '\n')
            text += '?';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (!text.empty())
        why += ": " + text;
    return why;
}

bool read_query(int &fd, const site &s, const std::string &request, int64_t deadline,
                livestatus_reply &reply, std::string &why, size_t pack_from = SIZE_MAX)
{
    if (!livestatus_query(fd, s, request, deadline, reply, why, pack_from))
        return false;
    if (reply.status == 200)
        return true;
    why = read_error_reason(reply);
    return false;
}

// One cell of a row: its text, as a status file would give the value.
struct read_cell {
    std::string_view text = std::string_view("", 0);
    bool present = false;  // not null
    char digits[24];
};

// Reads a cell; false where the reply does not parse.
bool read_cell_of(simdjson::ondemand::value v, read_cell &cell)
{
    simdjson::ondemand::json_type type;
    if (v.type().get(type))
        return false;
    cell.present = true;
    // Empty but never null: the completion steps copy from it with memcpy.
    cell.text = std::string_view("", 0);
    switch (type) {
    case simdjson::ondemand::json_type::string:
        return !v.get_string().get(cell.text);
    case simdjson::ondemand::json_type::number: {
        int64_t n;
        if (v.get_int64().get(n)) {
            double d;
            if (v.get_double().get(d))
                return false;
            // Times may come as fractions; beyond 64 bits they are held.
            d = std::floor(d);
            n = d >= 9.2e18 ? INT64_MAX : d <= -9.2e18 ? INT64_MIN : static_cast<int64_t>(d);
        }
        auto r = std::to_chars(cell.digits, cell.digits + sizeof cell.digits, n);
        cell.text = std::string_view(cell.digits, static_cast<size_t>(r.ptr - cell.digits));
        return true;
    }
    case simdjson::ondemand::json_type::boolean: {
        bool b;
        if (v.get_bool().get(b))
            return false;
        cell.text = b ? "1" : "0";
        return true;
    }
    case simdjson::ondemand::json_type::null:
        cell.present = false;
        return !v.is_null().error();
    default:
        // A list or an object where a value was asked for: no value.
        cell.present = false;
        return true;
    }
}

int64_t read_number(const read_cell &c)
{
    return status_number(c.text.data(), c.text.size());
}

std::string_view read_cut_text(std::string_view text, size_t cut)
{
    return text.size() > cut ? text.substr(0, cut) : text;
}

unsigned char read_marks(const read_cell &ack, const read_cell &downtime)
{
    unsigned char marks = 0;
    if (read_number(ack) != 0)
        marks |= MARK_ACK;
    if (read_number(downtime) >= 1)
        marks |= MARK_DOWNTIME;
    return marks;
}

void read_host(int i, read_cell *c)
{
    host_idx_to_offset[i] = -1;
    const std::string_view name = read_cut_text(c[0].text, read_cut("host_name"));
    complete_host_name(i, name.data(), name.size());
    complete_host_state(i, c[1].text.data(), c[1].text.size());
    const std::string_view out = read_cut_text(c[3].text, read_cut("plugin_output"));
    complete_host_output(i, out.data(), out.size());
    const bool unchecked = c[2].present && read_number(c[2]) == 0;
    const bool checked = c[2].present && read_number(c[2]) != 0;
    complete_host_change(i, c[4].text.data(), c[4].text.size(), unchecked, checked);
    host_idx_to_marks[i] = read_marks(c[5], c[6]);
}

void read_service(int i, read_cell *c)
{
    service_idx_to_offset[i] = -1;
    const std::string_view name = read_cut_text(c[0].text, read_cut("host_name"));
    complete_service_name(i, name.data(), name.size());
    const std::string_view desc = read_cut_text(c[1].text, read_cut("service_description"));
    livestatus_descriptions.push_back(status_copy_text(desc.data(), desc.size()));
    complete_service_description(i, desc.data(), desc.size());
    complete_service_state(i, c[2].text.data(), c[2].text.size());
    complete_service_change(i, c[5].text.data(), c[5].text.size());
    const bool unchecked = c[3].present && read_number(c[3]) == 0;
    const bool checked = c[3].present && read_number(c[3]) != 0;
    const std::string_view out = read_cut_text(c[4].text, read_cut("plugin_output"));
    complete_service_output(i, out.data(), out.size(), unchecked, checked);
    service_idx_to_marks[i] = read_marks(c[6], c[7]);
}

// Each thread its own: a fetch checks its replies on its own thread.
thread_local simdjson::ondemand::parser read_parser;

// A large reply's rows are parsed in batches of about this many bytes: the
// parser keeps room for several times the largest document it has read,
// which for a whole reply of a large site is hundreds of megabytes, and a
// fetch's thread holds such room while the view is still in memory.
constexpr size_t READ_BATCH = size_t{1} << 16;
// A batch as a document of its own: "[", its rows, "]", the padding.
thread_local std::vector<char> read_batch_text;

// How a walk over rows ended.
enum class read_end {
    done,
    unopened,  // not a list at all: nothing was taken (why says so)
    bad,       // not rows of the columns asked for (why says so)
    refused,   // take refused a row (why says why)
};

// Walks the rows of a JSON document (text of length len in a buffer of
// capacity bytes), a list of rows each a list of columns values, handing
// each row to take.
template <typename Take>
read_end read_array(const char *text, size_t len, size_t capacity, size_t columns,
                    const char *what, Take &take, std::string &why)
{
    const std::string bad = std::string("the ") + what + " reply does not parse";
    simdjson::ondemand::document doc;
    simdjson::ondemand::array rows;
    if (read_parser.iterate(text, len, capacity).get(doc) || doc.get_array().get(rows)) {
        why = bad;
        return read_end::unopened;
    }
    read_cell cells[READ_MAX_COLUMNS];
    for (auto row_value : rows) {
        simdjson::ondemand::array row;
        if (row_value.get_array().get(row)) {
            why = bad;
            return read_end::bad;
        }
        size_t k = 0;
        for (auto cell : row) {
            simdjson::ondemand::value v;
            if (cell.get(v) || (k < columns && !read_cell_of(v, cells[k]))) {
                why = bad;
                return read_end::bad;
            }
            k++;
        }
        if (k != columns) {
            why = std::string("the ") + what + " reply has rows of " + std::to_string(k) +
                  " columns, not " + std::to_string(columns);
            return read_end::bad;
        }
        if (!take(cells, why))
            return read_end::refused;
    }
    // Anything behind the list of rows.
    if (!doc.current_location().error()) {
        why = bad;
        return read_end::bad;
    }
    return read_end::done;
}

bool read_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct read_dctx_free {
    void operator()(ZSTD_DCtx *d) const { ZSTD_freeDCtx(d); }
};
thread_local std::unique_ptr<ZSTD_DCtx, read_dctx_free> read_dctx;

// A reply's body a piece at a time, in order: a plain one as it stands, a
// packed one unpacked as the walk goes, never whole.
struct read_source {
    const livestatus_reply &reply;
    size_t given = 0;  // bytes of the body given so far
    ZSTD_inBuffer in{nullptr, 0, 0};
};

bool read_source_open(read_source &src)
{
    if (src.reply.packed_length == 0)
        return true;
    if (!read_dctx)
        read_dctx.reset(ZSTD_createDCtx());
    if (!read_dctx || ZSTD_isError(ZSTD_DCtx_reset(read_dctx.get(), ZSTD_reset_session_only)))
        return false;
    src.in = ZSTD_inBuffer{src.reply.packed.data(), src.reply.packed_length, 0};
    return true;
}

bool read_source_done(const read_source &src) { return src.given == src.reply.length; }

// Appends up to n more bytes of the body to w; false where a packed body
// does not unpack to its length.
bool read_source_more(read_source &src, std::vector<char> &w, size_t n)
{
    n = std::min(n, src.reply.length - src.given);
    const size_t old = w.size();
    w.resize(old + n);
    if (src.reply.packed_length == 0) {
        memcpy(w.data() + old, src.reply.body.data() + src.given, n);
        src.given += n;
        return true;
    }
    ZSTD_outBuffer out{w.data() + old, n, 0};
    while (out.pos < out.size) {
        const size_t in_before = src.in.pos, out_before = out.pos;
        const size_t left = ZSTD_decompressStream(read_dctx.get(), &out, &src.in);
        // An error, the frame's end, or a frame cut short: no more comes.
        if (ZSTD_isError(left) || left == 0 || (src.in.pos == in_before && out.pos == out_before))
            break;
    }
    w.resize(old + out.pos);
    src.given += out.pos;
    return out.pos == n;
}

// The body not yet walked.
thread_local std::vector<char> read_window;
// A batch is cut where a row may end: after a "]" with a comma behind it
// and the next row's "[" and the quote of its first column (a name) behind
// that, blanks between. No row longer than this is looked for: the reply
// is walked whole.
constexpr size_t READ_WINDOW_MAX = 16 * READ_BATCH;
// Places tried for one batch's end before the reply is walked whole.
constexpr int READ_TRIES = 32;

// The end of the first place in w[from, end) where a row may end, or 0.
size_t read_cut(const std::vector<char> &w, size_t from)
{
    const char *p = w.data(), *end = w.data() + w.size();
    for (const char *at = p + from; at < end;) {
        const auto *close =
            static_cast<const char *>(memchr(at, ']', static_cast<size_t>(end - at)));
        if (!close)
            return 0;
        const char *q = close + 1;
        while (q < end && read_blank(*q))
            q++;
        if (q < end && *q == ',') {
            q++;
            while (q < end && read_blank(*q))
                q++;
            if (end - q >= 2 && q[0] == '[' && q[1] == '"')
                return static_cast<size_t>(close - p) + 1;
        }
        at = close + 1;
    }
    return 0;
}

// Walks the rows of a reply, in batches where batched and the reply is
// large, the body taken a piece at a time so that a packed one is never
// unpacked whole. A batch is cut where a row may end ("]" "," "[\"", as
// the daemons write their rows: Icinga 2 all on one line, each after a
// comma and a blank, others one a line). Inside a text a quote is always
// escaped, so such a place is there only at a text's end; a cut there
// leaves the batch with a text that never ends, which the parser refuses
// before any row is taken, and the batch goes on to the next place. The
// batches' rows joined are the reply's rows; a batch that fails otherwise
// ends the walk with *again set, to be done whole, since the cut may have
// met a list of names inside a row.
template <typename Take>
read_end read_rows(const livestatus_reply &reply, size_t columns, const char *what, Take take,
                   bool batched, bool *again, std::string &why)
{
    if (!batched || reply.length <= 2 * READ_BATCH) {
        if (reply.packed_length == 0)
            return read_array(reply.body.data(), reply.length, reply.body.size(), columns, what,
                              take, why);
        const livestatus_bytes body = livestatus_unpack(reply, why);
        if (body.empty())
            return read_end::bad;
        return read_array(body.data(), reply.length, body.size(), columns, what, take, why);
    }
    read_source src{reply};
    std::vector<char> &w = read_window;
    w.clear();
    // Anything but the walk's own doing is judged by the walk done whole.
    auto whole = [&] {
        *again = true;
        why = std::string("the ") + what + " reply does not parse";
        return read_end::bad;
    };
    // Enough for a batch and the cut after it, or the rest of the body.
    auto top_up = [&](size_t want) {
        while (w.size() < want && !read_source_done(src))
            if (!read_source_more(src, w, want - w.size()))
                return false;
        return true;
    };
    if (!read_source_open(src) || !top_up(2 * READ_BATCH + 4))
        return whole();
    size_t lead = 0;
    while (lead < w.size() && read_blank(w[lead]))
        lead++;
    if (lead == w.size() || w[lead] != '[')
        return whole();
    w.erase(w.begin(), w.begin() + static_cast<long>(lead) + 1);
    for (;;) {
        if (!top_up(2 * READ_BATCH + 4))
            return whole();
        size_t from = READ_BATCH;
        read_end e = read_end::done;
        size_t n = 0;      // the batch: w[0, n)
        size_t skip = 0;   // and what the walk passes over after it
        bool last = false;  // the batch ends with the list
        int tries = 0;
        for (;;) {
            n = read_cut(w, from);
            if (n != 0) {
                // Up to the comma between the batches.
                skip = 0;
                while (w[n + skip] != ',')
                    skip++;
                skip++;
            } else if (read_source_done(src)) {
                last = true;
                n = w.size();
                while (n > 0 && read_blank(w[n - 1]))
                    n--;
                if (n == 0 || w[n - 1] != ']')
                    return whole();
                n--;  // the list's end
                skip = w.size() - n;
            } else {
                // A row longer than the window: take in more and look again.
                if (w.size() >= READ_WINDOW_MAX || !top_up(w.size() + READ_BATCH))
                    return whole();
                continue;
            }
            read_batch_text.resize(n + 2 + LIVESTATUS_PADDING);
            read_batch_text[0] = '[';
            memcpy(read_batch_text.data() + 1, w.data(), n);
            read_batch_text[n + 1] = ']';
            std::fill(read_batch_text.begin() + static_cast<long>(n) + 2, read_batch_text.end(),
                      '\0');
            e = read_array(read_batch_text.data(), n + 2, read_batch_text.size(), columns, what,
                           take, why);
            // Cut inside a text: the next place, a few times at most (a text
            // that never ends would have every place after it tried).
            if (e != read_end::unopened || last || ++tries > READ_TRIES)
                break;
            why.clear();
            from = n;
        }
        if (e == read_end::bad || e == read_end::unopened)
            return whole();
        if (e != read_end::done)
            return e;
        w.erase(w.begin(), w.begin() + static_cast<long>(n + skip));
        if (w.empty() && read_source_done(src))
            return read_end::done;
    }
}

}  // namespace

std::vector<char *> livestatus_descriptions;

bool livestatus_fetch(int &fd, const site &s, int64_t deadline_ms, livestatus_fetched &f,
                      std::string &why, size_t pack_from)
{
    static const std::string status_request = [] {
        const char *const columns[] = {"program_start"};
        return read_request("status", columns);
    }();
    static const std::string host_request = read_request("hosts", READ_HOST_COLUMNS);
    static const std::string service_request = read_request("services", READ_SERVICE_COLUMNS);
    if (!read_query(fd, s, status_request, deadline_ms, f.status, why) ||
        !read_query(fd, s, host_request, deadline_ms, f.hosts, why, pack_from) ||
        !read_query(fd, s, service_request, deadline_ms, f.services, why, pack_from))
        return false;
    f.now = time(nullptr);
    return true;
}

// One walk over the replies' rows: with fill, into the tables through the
// completion steps; without, only seeing that they parse, are of the
// columns asked for and fit the tables, touching nothing else (a fetch's
// thread does this). *again where a batch did not parse and the replies
// are to be read whole.
static bool read_walk(const livestatus_fetched &f, bool fill, bool batched, bool *again,
                      std::string &why)
{
    int64_t program_start = 0;
    auto take_start = [&](read_cell *c, std::string &) {
        program_start = read_number(c[0]);
        return true;
    };
    bool ok = read_rows(f.status, 1, "status", take_start, false, again, why) == read_end::done;
    if (fill) {
        const int now = f.now > INT32_MAX ? INT32_MAX : static_cast<int>(f.now);
        // Even a read that fails here leaves the tables as a read of nothing,
        // never sized by the released snapshot before it.
        status_read_begin(now, ok ? static_cast<int>(program_start) : 0);
    }
    if (!ok)
        return false;

    int hosts = 0;
    auto take_host = [&](read_cell *c, std::string &w) {
        if (hosts >= MAX_ITEMS) {
            w = "too many hosts";
            return false;
        }
        if (fill)
            read_host(hosts, c);
        hosts++;
        return true;
    };
    if (read_rows(f.hosts, std::size(READ_HOST_COLUMNS), "hosts", take_host, batched, again,
                  why) != read_end::done)
        return false;
    int services = 0;
    if (fill)
        livestatus_descriptions.clear();
    auto take_service = [&](read_cell *c, std::string &w) {
        if (services >= MAX_ITEMS) {
            w = "too many services";
            return false;
        }
        if (fill)
            read_service(services, c);
        services++;
        return true;
    };
    return read_rows(f.services, std::size(READ_SERVICE_COLUMNS), "services", take_service,
                     batched, again, why) == read_end::done;
}

// A walk in batches, and anew and whole where a batch did not parse (*whole
// then set: filling, the tables start again from nothing, the texts of the
// first attempt staying unused in the snapshot's arena).
static bool read_judge(const livestatus_fetched &f, bool fill, bool &whole, std::string &why)
{
    bool again = false;
    whole = false;
    if (read_walk(f, fill, true, &again, why))
        return true;
    if (!again)
        return false;
    why.clear();
    whole = true;
    return read_walk(f, fill, false, &again, why);
}

bool livestatus_check(livestatus_fetched &f, std::string &why)
{
    f.checked = read_judge(f, false, f.whole, why);
    return f.checked;
}

bool livestatus_fill(const livestatus_fetched &f, std::string &why)
{
    if (f.checked) {
        bool again = false;
        return read_walk(f, true, !f.whole, &again, why);
    }
    bool whole = false;
    return read_judge(f, true, whole, why);
}
