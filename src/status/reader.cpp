// SPDX-License-Identifier: GPL-2.0-or-later
// The status file reader: finds the file's creation time in the info stanza,
// then reads each host and service stanza into the next item of its table,
// searching the stanza for its keys in a fixed order.
#include <bit>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

int line = 0;

namespace {

constexpr size_t READER_BUFFER = 256 * 1024;
// What one line gives to the split: the first 1023 characters of a physical
// line, however long it is.
constexpr size_t READER_LINE = TEXT_SIZE - 1;

struct reader_file {
    FILE *f = nullptr;
    std::unique_ptr<char[]> buf;
    size_t pos = 0;             // next unread byte of buf
    size_t end = 0;             // end of the bytes in buf
    int64_t base = 0;           // file offset of buf[0]
    bool drained = false;       // the file has given all its bytes
    bool eof_reached = false;   // a read has met the end of the file
    char long_line[TEXT_SIZE];  // the head of a line longer than the buffer holds
};

// One line as read and split.
struct reader_line {
    const char *text;
    size_t len;        // at most READER_LINE, without the newline
    size_t raw_len;    // of the whole physical line, without the newline
    bool newline;      // the line ended in a newline
    bool marker;       // the failure marker: not a key/value line, or key "fail"
    const char *key;
    size_t key_len;
    const char *value;
    size_t value_len;
};

bool reader_fill(reader_file &r)
{
    if (r.drained)
        return false;
    if (r.pos > 0) {
        r.base += static_cast<int64_t>(r.pos);
        memmove(r.buf.get(), r.buf.get() + r.pos, r.end - r.pos);
        r.end -= r.pos;
        r.pos = 0;
    }
    size_t n = fread(r.buf.get() + r.end, 1, READER_BUFFER - r.end, r.f);
    if (n == 0) {
        r.drained = true;
        return false;
    }
    r.end += n;
    return true;
}

// Reads one physical line; false when the read returns nothing.
bool reader_next(reader_file &r, reader_line &l)
{
    for (;;) {
        char *start = r.buf.get() + r.pos;
        size_t avail = r.end - r.pos;
        char *nl = static_cast<char *>(memchr(start, '\n', avail));
        if (nl) {
            size_t n = static_cast<size_t>(nl - start);
            l.text = start;
            l.raw_len = n;
            l.len = n < READER_LINE ? n : READER_LINE;
            l.newline = true;
            r.pos += n + 1;
            return true;
        }
        if (avail >= READER_LINE) {
            // A long line: keep its head, pass over the rest up to its newline.
            memcpy(r.long_line, start, READER_LINE);
            l.text = r.long_line;
            l.len = READER_LINE;
            l.raw_len = avail;
            l.newline = false;
            r.pos = r.end;
            while (reader_fill(r)) {
                char *p = r.buf.get() + r.pos;
                char *e = static_cast<char *>(memchr(p, '\n', r.end - r.pos));
                l.raw_len += static_cast<size_t>((e ? e : r.buf.get() + r.end) - p);
                if (e) {
                    r.pos = static_cast<size_t>(e - r.buf.get()) + 1;
                    l.newline = true;
                    return true;
                }
                r.pos = r.end;
            }
            r.eof_reached = true;
            return true;
        }
        if (!reader_fill(r)) {
            r.eof_reached = true;
            if (avail == 0)
                return false;
            l.text = r.buf.get() + r.pos;  // the fill may have moved the bytes
            l.len = l.raw_len = avail;
            l.newline = false;
            r.pos = r.end;
            return true;
        }
    }
}

// The first blank or '=' in [p, e), or e. Eight bytes at a time: most
// lines of the file are passed over, and each of them is split.
const char *reader_separator(const char *p, const char *e)
{
    constexpr uint64_t ones = 0x0101010101010101ull;
    constexpr uint64_t highs = 0x8080808080808080ull;
    while (std::endian::native == std::endian::little && e - p >= 8) {
        uint64_t v;
        memcpy(&v, p, 8);
        uint64_t blank = v ^ (ones * ' ');
        uint64_t equals = v ^ (ones * '=');
        uint64_t found = ((blank - ones) & ~blank & highs) | ((equals - ones) & ~equals & highs);
        if (found)
            return p + std::countr_zero(found) / 8;  // the lowest flag is exact
        p += 8;
    }
    while (p < e && *p != ' ' && *p != '=')
        p++;
    return p;
}

// Splits at the first blank or '=' after the leading blanks and tabs.
void reader_split(reader_line &l)
{
    const char *p = l.text;
    const char *e = p + l.len;
    while (p < e && (*p == ' ' || *p == '\t'))
        p++;
    const char *k = p;
    p = reader_separator(p, e);
    if (p == e || (p - k == 4 && memcmp(k, "fail", 4) == 0)) {
        l.marker = true;
        l.key = l.value = "fail";
        l.key_len = l.value_len = 4;
        return;
    }
    l.marker = false;
    l.key = k;
    l.key_len = static_cast<size_t>(p - k);
    l.value = p + 1;
    l.value_len = static_cast<size_t>(e - p - 1);
}

// Reads the next line, counts it and splits it; a read that returns nothing
// gives the failure marker.
void reader_read(reader_file &r, reader_line &l)
{
    line++;
    if (!reader_next(r, l)) {
        l.text = "";
        l.len = l.raw_len = 0;
        l.newline = false;
    }
    reader_split(l);
}

template <size_t N>
bool reader_key_is(const reader_line &l, const char (&key)[N])
{
    return !l.marker && l.key_len == N - 1 && memcmp(l.key, key, N - 1) == 0;
}

// A value that reads as the number 0 (digits present).
bool reader_zero(const char *value, size_t len)
{
    size_t i = 0;
    while (i < len && (value[i] == ' ' || value[i] == '\t'))
        i++;
    if (i < len && (value[i] == '+' || value[i] == '-'))
        i++;
    return i < len && value[i] >= '0' && value[i] <= '9' && status_number(value, len) == 0;
}

// A value that reads as a number other than 0 (digits present).
bool reader_nonzero(const char *value, size_t len)
{
    return status_number(value, len) != 0;  // no digits read as 0
}

// What the key searches of one stanza noted on the lines they passed.
struct reader_notes {
    bool unchecked = false;  // has_been_checked=0
    bool checked = false;    // has_been_checked with a number other than 0
    unsigned char marks = 0; // MARK_ACK, MARK_DOWNTIME
};

// The lengths of the keys noted on passed lines (has_been_checked, the two
// marks): one test passes over nearly every other line.
constexpr uint64_t READER_NOTED_LENGTHS = (1ull << 16) | (1ull << 24) | (1ull << 29);

// The lengths of the keys the stanza pass looks for: the stanza headers,
// the marks and the daemon's start time (and the program stanza's header).
constexpr uint64_t READER_PASS_LENGTHS = (1ull << 4) | (1ull << 7) | (1ull << 10) |
                                         (1ull << 13) | (1ull << 24) | (1ull << 29);
static_assert(sizeof("programstatus") - 1 == 13 && sizeof("program_start") - 1 == 13);

bool reader_maybe_noted(const reader_line &l)
{
    return l.key_len < 64 && ((READER_NOTED_LENGTHS >> l.key_len) & 1) != 0;
}

// The handled marks a stanza line gives, wherever it stands in the stanza.
unsigned char reader_marks(const reader_line &l)
{
    if (l.value_len == 1 && l.value[0] == '0')
        return 0;  // what nearly every stanza says
    if (reader_key_is(l, "problem_has_been_acknowledged"))
        return reader_nonzero(l.value, l.value_len) ? MARK_ACK : 0;
    if (reader_key_is(l, "scheduled_downtime_depth"))
        return status_number(l.value, l.value_len) >= 1 ? MARK_DOWNTIME : 0;
    return 0;
}

// Searches on for key after a stanza header or the previous key. The first
// line may be anything; every later one must be a key/value line.
template <size_t N>
bool reader_search(reader_file &r, reader_line &l, const char (&key)[N], reader_notes &notes)
{
    reader_read(r, l);
    for (;;) {
        if (reader_key_is(l, key))
            return true;
        if (reader_maybe_noted(l)) {
            if (reader_key_is(l, "has_been_checked")) {
                if (reader_zero(l.value, l.value_len))
                    notes.unchecked = true;
                else if (reader_nonzero(l.value, l.value_len))
                    notes.checked = true;
            }
            notes.marks |= reader_marks(l);
        }
        if (r.eof_reached)
            return false;
        reader_read(r, l);
        if (l.marker)
            return false;
    }
}

// Where a failed read's reason goes: null ends the program with the
// reader's fatal message, as a lone status file does.
std::string *reader_why = nullptr;

// A fatal error of the read: the message on the screen channel, or its
// short reason into reader_why and false.
bool reader_fail(const char *reason, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
bool reader_fail(const char *reason, const char *format, ...)
{
    char message[2 * TEXT_SIZE + 256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(message, sizeof message, format, ap);
    va_end(ap);
    if (!reader_why)
        fatal_screen("%s", message);
    *reader_why = reason;
    return false;
}

bool reader_missing(const char *path, const char *key, const char *stanza)
{
    // No heap text: the fatal path leaves by exit(), which the fuzz targets
    // turn into a jump past any destructor.
    char reason[TEXT_SIZE];
    snprintf(reason, sizeof reason, "could not find \"%s\" for %s stanza preceeding line %d",
             key, stanza, line);
    return reader_fail(reason,
                       "fatal error: %s: could not find \"%s\" for %s stanza preceeding line %d\n",
                       path, key, stanza, line);
}

bool reader_host(reader_file &r, reader_line &l, int64_t offset, const char *path)
{
    if (host_list_size >= MAX_ITEMS)
        return reader_fail("too many hosts",
                           "fatal error: too many hosts!\nincrease MAX_ITEMS in quelvan\n");
    int i = host_list_size;
    host_idx_to_offset[i] = offset;
    reader_notes notes;
    if (!reader_search(r, l, "host_name", notes))
        return reader_missing(path, "host_name", "host");
    complete_host_name(i, l.value, l.value_len);
    if (!reader_search(r, l, "current_state", notes))
        return reader_missing(path, "current_state", "host");
    complete_host_state(i, l.value, l.value_len);
    if (!reader_search(r, l, "plugin_output", notes))
        return reader_missing(path, "plugin_output", "host");
    complete_host_output(i, l.value, l.value_len);
    if (!reader_search(r, l, "last_state_change", notes))
        return reader_missing(path, "last_state_change", "host");
    complete_host_change(i, l.value, l.value_len, notes.unchecked, notes.checked);
    host_idx_to_marks[i] = notes.marks;
    return true;
}

bool reader_service(reader_file &r, reader_line &l, int64_t offset, const char *path)
{
    if (service_list_size >= MAX_ITEMS)
        return reader_fail("too many services",
                           "fatal error: too many services!\nincrease MAX_ITEMS in quelvan\n");
    int i = service_list_size;
    service_idx_to_offset[i] = offset;
    reader_notes notes;
    if (!reader_search(r, l, "host_name", notes))
        return reader_missing(path, "host_name", "service");
    complete_service_name(i, l.value, l.value_len);
    if (!reader_search(r, l, "service_description", notes))
        return reader_missing(path, "service_description", "service");
    complete_service_description(i, l.value, l.value_len);
    if (!reader_search(r, l, "current_state", notes))
        return reader_missing(path, "current_state", "service");
    complete_service_state(i, l.value, l.value_len);
    if (!reader_search(r, l, "last_state_change", notes))
        return reader_missing(path, "last_state_change", "service");
    complete_service_change(i, l.value, l.value_len);
    if (!reader_search(r, l, "plugin_output", notes))
        return reader_missing(path, "plugin_output", "service");
    complete_service_output(i, l.value, l.value_len, notes.unchecked, notes.checked);
    service_idx_to_marks[i] = notes.marks;
    return true;
}

// The present moment of the read, and empty tables.
void reader_begin_items(int now)
{
    complete_start();
    last_update_int = now;
    time_t created = last_update_int;
    const char *text = ctime(&created);
    last_update[0] = '\0';
    if (text) {
        memcpy(last_update, text, 19);
        last_update[19] = '\0';
    }
    if (status_debug)
        debug("last update is %s (%d)", last_update, last_update_int);

    status_program_start = 0;
    status_unlink_hosts();
    num_crit = num_warn = num_okay = 0;
    service_list_size = host_list_size = 0;
    num_down = num_up = 0;
}

// The file of the last read, kept open until the next one: the daemon renames
// its new file over the old, so this one stays the snapshot that was read.
reader_file reader;

}  // namespace

int64_t status_notes_offset = 0;
unsigned status_generation = 0;

int status_snapshot_fd()
{
    return reader.f ? fileno(reader.f) : -1;
}

namespace {

bool reader_read_file(const char *path)
{
    status_debug = debugging == 1;
    if (status_debug) {
        debug("read_v23_status()...");
        debug("status file is %s", path);
    }
    progress_begin();

    // The buffer is kept from one read to the next. A fatal error ends the
    // process, except in the fuzz targets, whose exit() leaves the read by
    // longjmp with the file still open: it is closed here.
    reader_file &r = reader;
    if (r.f) {
        fclose(r.f);
        r.f = nullptr;  // not closed twice when the next open ends in a fatal error
    }
    r.pos = r.end = 0;
    r.base = 0;
    status_notes_offset = 0;
    status_generation++;
    r.drained = r.eof_reached = false;
    r.f = reader_why ? file_try_regular(path, *reader_why) : file_open_regular(path);
    if (!r.f)
        return false;
    setvbuf(r.f, nullptr, _IONBF, 0);  // the reader keeps its own buffer
    if (!r.buf)
        r.buf.reset(new char[READER_BUFFER]);
    reader_line l;

    // The info stanza: its header line exactly, newline included.
    line = 0;
    for (;;) {
        line++;
        bool got = reader_next(r, l);
        if (got && l.newline && l.raw_len == 6 && memcmp(l.text, "info {", 6) == 0)
            break;
        if (!got || r.eof_reached)
            return reader_fail("could not find \"info\" stanza",
                               "fatal error: %s: could not find \"info\" stanza\n", path);
    }

    // Its creation time, wherever the first "created" entry stands.
    do
        reader_read(r, l);
    while (!reader_key_is(l, "created") && !r.eof_reached);
    if (!reader_key_is(l, "created"))
        return reader_fail("could not find \"created\" entry",
                           "fatal error: %s: could not find \"created\" entry\n", path);

    reader_begin_items(status_number(l.value, l.value_len));

    // The stanza pass. The lines of a stanza after its last searched key
    // still give its marks, up to the closing brace (a line that is no
    // key/value line); the program stanza gives the daemon's start time.
    unsigned char *tail_marks = nullptr;
    bool in_program = false;
    for (;;) {
        const int64_t offset = r.base + static_cast<int64_t>(r.pos);
        if (!reader_next(r, l))
            break;
        line++;
        reader_split(l);
        if (l.marker) {
            tail_marks = nullptr;
            in_program = false;
            continue;
        }
        // Most lines have a key of no length looked for here.
        if (l.key_len >= 64 || ((READER_PASS_LENGTHS >> l.key_len) & 1) == 0)
            continue;
        if (reader_key_is(l, "host") || reader_key_is(l, "hoststatus")) {
            if (!reader_host(r, l, offset, path))
                return false;
            status_notes_offset = offset;
            tail_marks = &host_idx_to_marks[host_list_size - 1];
        } else if (reader_key_is(l, "service") || reader_key_is(l, "servicestatus")) {
            if (!reader_service(r, l, offset, path))
                return false;
            status_notes_offset = offset;
            tail_marks = &service_idx_to_marks[service_list_size - 1];
        } else if (tail_marks) {
            if (reader_maybe_noted(l))
                *tail_marks |= reader_marks(l);
        } else if (reader_key_is(l, "programstatus")) {
            in_program = true;
        } else if (in_program && reader_key_is(l, "program_start")) {
            status_program_start = status_number(l.value, l.value_len);
        }
    }

    if (status_debug)
        debug("done with read_v23_status()");
    return true;
}

}  // namespace

void read_v23_status()
{
    reader_why = nullptr;
    reader_read_file(status_file_path);
}

void status_read_begin(int now, int program_start)
{
    status_debug = debugging == 1;
    status_notes_offset = 0;
    status_generation++;
    reader_begin_items(now);
    status_program_start = program_start;
}

char *status_copy_text(const char *text, size_t len)
{
    return status_copy(text, len);
}

bool status_read_file(const char *path, std::string &why)
{
    reader_why = &why;
    bool ok = reader_read_file(path);
    reader_why = nullptr;
    return ok;
}
