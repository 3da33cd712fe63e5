// Item completion: what becomes of each value the reader finds in a host or
// service stanza (state names, hooks, PENDING, last-change and duration
// texts, levels and counts).
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

const char HOST_PENDING_OUTPUT[] = "(Host assumed to be up)";
const char SERVICE_PENDING_OUTPUT[] = "(Service assumed to be ok)";
const char NOT_APPLICABLE[] = " not applicable ";

// The stanza's time of last state change, kept from step 4 to step 5 of a
// service.
int complete_since = 0;

// --- the last-change text ---
// ctime() re-reads the zone on every call, far too slow for a full table.
// Within one hour of real time the zone's offset is all but always constant;
// an hour whose two ends agree with plain offset arithmetic is then formatted
// here, any other hour through localtime_r item by item.

constexpr int COMPLETE_HOURS = 16384; // direct-mapped cache of hours

struct complete_hour {
    int64_t hour;   // seconds / 3600 (floor); INT64_MIN when empty
    long offset;    // seconds east of UTC in that hour
    bool uniform;   // offset arithmetic holds for the whole hour
};

complete_hour complete_hours[COMPLETE_HOURS];

const char *const COMPLETE_DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const COMPLETE_MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int64_t complete_floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Broken-down time of local seconds l (days from 1970-01-01 in the civil
// calendar).
void complete_civil(int64_t l, struct tm &out)
{
    int64_t days = complete_floor_div(l, 86400);
    int64_t secs = l - days * 86400;
    int64_t z = days + 719468;
    int64_t era = complete_floor_div(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    out = {};
    out.tm_year = static_cast<int>(y - 1900);
    out.tm_mon = static_cast<int>(m - 1);
    out.tm_mday = static_cast<int>(d);
    out.tm_hour = static_cast<int>(secs / 3600);
    out.tm_min = static_cast<int>(secs % 3600 / 60);
    out.tm_sec = static_cast<int>(secs % 60);
    int64_t wd = (days + 4) % 7;
    out.tm_wday = static_cast<int>(wd < 0 ? wd + 7 : wd);
}

bool complete_same(const struct tm &a, const struct tm &b)
{
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec &&
           a.tm_wday == b.tm_wday;
}

// "Www Mmm dd hh:mm" as ctime() writes the first 16 characters.
void complete_format(const struct tm &t, char out[17])
{
    const char *day = t.tm_wday >= 0 && t.tm_wday < 7 ? COMPLETE_DAYS[t.tm_wday] : "???";
    const char *mon = t.tm_mon >= 0 && t.tm_mon < 12 ? COMPLETE_MONTHS[t.tm_mon] : "???";
    if (t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour < 0 || t.tm_hour > 23 || t.tm_min < 0 ||
        t.tm_min > 59) {
        char buf[64];
        snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d", day, mon, t.tm_mday, t.tm_hour,
                 t.tm_min);
        memcpy(out, buf, 16);
        out[16] = '\0';
        return;
    }
    memcpy(out, day, 3);
    out[3] = ' ';
    memcpy(out + 4, mon, 3);
    out[7] = ' ';
    out[8] = t.tm_mday >= 10 ? static_cast<char>('0' + t.tm_mday / 10) : ' ';
    out[9] = static_cast<char>('0' + t.tm_mday % 10);
    out[10] = ' ';
    out[11] = static_cast<char>('0' + t.tm_hour / 10);
    out[12] = static_cast<char>('0' + t.tm_hour % 10);
    out[13] = ':';
    out[14] = static_cast<char>('0' + t.tm_min / 10);
    out[15] = static_cast<char>('0' + t.tm_min % 10);
    out[16] = '\0';
}

const complete_hour &complete_hour_of(int64_t t)
{
    int64_t hour = complete_floor_div(t, 3600);
    complete_hour &h = complete_hours[static_cast<uint64_t>(hour) % COMPLETE_HOURS];
    if (h.hour == hour)
        return h;
    h.hour = hour;
    h.uniform = false;
    h.offset = 0;
    time_t first = static_cast<time_t>(hour * 3600);
    time_t last = first + 3599;
    struct tm a, b, ca, cb;
    if (localtime_r(&first, &a) && localtime_r(&last, &b) && a.tm_gmtoff == b.tm_gmtoff) {
        complete_civil(static_cast<int64_t>(first) + a.tm_gmtoff, ca);
        complete_civil(static_cast<int64_t>(last) + b.tm_gmtoff, cb);
        h.uniform = complete_same(a, ca) && complete_same(b, cb);
        h.offset = a.tm_gmtoff;
    }
    return h;
}

// Appends the decimal text of v.
char *complete_int(char *p, int v)
{
    unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    if (v < 0)
        *p++ = '-';
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    while (n)
        *p++ = digits[--n];
    return p;
}

// The duration text into buf (at least 32 bytes); returns its length.
size_t complete_duration(int since, char *buf)
{
    int d = static_cast<int>(static_cast<uint32_t>(last_update_int) - static_cast<uint32_t>(since));
    int a, b;
    char ua, ub;
    if (d <= 3599) {
        a = d / 60, b = d % 60, ua = 'm', ub = 's';
    } else if (d <= 86399) {
        a = d / 3600, b = d % 3600 / 60, ua = 'h', ub = 'm';
    } else {
        a = d / 86400, b = d % 86400 / 3600, ua = 'd', ub = 'h';
    }
    char *p = complete_int(buf, a);
    *p++ = ua;
    *p++ = ' ';
    p = complete_int(p, b);
    *p++ = ub;
    *p = '\0';
    return static_cast<size_t>(p - buf);
}

char *complete_duration_text(int since)
{
    char buf[32];
    size_t n = complete_duration(since, buf);
    return status_copy(buf, n);
}

char *complete_change_text(int t)
{
    char *p = status_text(17);
    status_change_text(t, p);
    return p;
}

char *complete_state(const char *value, size_t len, bool host)
{
    char c = len ? value[0] : '\0';
    const char *name = nullptr;
    if (host) {
        if (c == '0')
            name = "UP";
        else if (c == '1')
            name = "DOWN";
    } else {
        if (c == '0')
            name = "OKAY";
        else if (c == '1')
            name = "WARNING";
        else if (c == '2')
            name = "CRITICAL";
        else if (c == '3')
            name = "UNKNOWN";
    }
    return name ? status_copy(name, strlen(name)) : nullptr;
}

}  // namespace

bool status_debug = false;
int status_program_start = 0;

void complete_start()
{
    tzset();  // as ctime() would: the zone of the environment now
    for (complete_hour &h : complete_hours)
        h.hour = INT64_MIN;
}

void status_change_text(int t, char out[17])
{
    const complete_hour &h = complete_hour_of(t);
    struct tm tm;
    if (h.uniform) {
        complete_civil(static_cast<int64_t>(t) + h.offset, tm);
    } else {
        time_t tt = t;
        if (!localtime_r(&tt, &tm))
            tm = {};
    }
    complete_format(tm, out);
}

int status_number(const char *text, size_t len)
{
    size_t i = 0;
    while (i < len && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        i++;
    bool negative = false;
    if (i < len && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t v = 0;
    while (i < len && text[i] >= '0' && text[i] <= '9') {
        if (v <= static_cast<int64_t>(INT_MAX) + 1)
            v = v * 10 + (text[i] - '0');
        i++;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

char *calc_duration(int since)
{
    char buf[32];
    size_t n = complete_duration(since, buf);
    char *p = static_cast<char *>(malloc(n + 1));
    if (!p)
        fatal_screen("fatal error: out of memory\n");
    memcpy(p, buf, n + 1);
    return p;
}

// A checked object whose state has not changed since its first check shows
// last_state_change=0: its state has lasted at least since the daemon started.
static bool complete_since_start(int n, bool checked)
{
    return checked && n == 0 && status_program_start > 0;
}

// The duration since the daemon started, followed by "+".
static char *complete_lasting_text(int since)
{
    char buf[40];
    size_t n = complete_duration(since, buf);
    buf[n] = '+';
    return status_copy(buf, n + 1);
}

// --- hosts ---

void complete_host_name(int i, const char *value, size_t len)
{
    item &it = host_list[i];
    it.host_name = status_copy(value, len);
    host_name_hashes[i] = status_name_hash(value, len);
    if (status_debug) {
        debug("HOST NUMBER %d...", i);
        debug("  host_name is \"%s\"", it.host_name);
    }
}

void complete_host_state(int i, const char *value, size_t len)
{
    item &it = host_list[i];
    it.current_state = complete_state(value, len, true);
    if (status_debug)
        debug("  current_state is %s", debug_text(it.current_state));
}

void complete_host_output(int i, const char *value, size_t len)
{
    item &it = host_list[i];
    it.plugin_output = status_copy(value, len);
    perl_hook(HOOK_HOST, it.plugin_output);
    if (status_debug) {
        debug("  raw plugin_output is \"%.*s\"", static_cast<int>(len), value);
        debug("  munged plugin_output is \"%s\"", it.plugin_output);
    }
}

void complete_host_change(int i, const char *value, size_t len, bool unchecked, bool checked)
{
    item &it = host_list[i];
    int n = status_number(value, len);
    bool since_start = false;
    if (!unchecked && (n != 0 || it.plugin_output[0] != '\0' || checked)) {
        since_start = complete_since_start(n, checked);
        if (since_start) {
            n = status_program_start;
            it.last_change = status_copy(NOT_APPLICABLE, sizeof NOT_APPLICABLE - 1);
        } else {
            it.last_change = complete_change_text(n);
        }
        it.last_state_change = n;
    } else {
        if (status_debug) {
            if (n == 0 && it.plugin_output[0] == '\0')
                debug("  current_state is PENDING, inferred from empty plugin output on Jan 1 1970");
            else
                debug("  current_state is PENDING, inferred from has_been_checked=0");
        }
        // Replaced texts stay in the arena until the snapshot is released.
        it.current_state = status_copy("PENDING", 7);
        it.plugin_output = status_copy(HOST_PENDING_OUTPUT, sizeof HOST_PENDING_OUTPUT - 1);
        perl_hook(HOOK_HOST, it.plugin_output);
        n = last_update_int;
        it.last_state_change = n;
        it.last_change = status_copy(NOT_APPLICABLE, sizeof NOT_APPLICABLE - 1);
    }
    it.duration = since_start ? complete_lasting_text(n) : complete_duration_text(n);
    if (status_debug) {
        debug("  last_state_change is \"%s\" (%d)", it.last_change,
              static_cast<int>(it.last_state_change));
        debug("  duration is \"%s\"", it.duration);
    }
    int level = convert_level(it.current_state);
    host_idx_to_level[i] = level;
    if (level == 0)
        num_up++;
    else if (level == 2)
        num_down++;
    host_list_size = i + 1;
}

// --- services ---

void complete_service_name(int i, const char *value, size_t len)
{
    item &it = service_list[i];
    it.host_name = status_copy(value, len);
    service_host_hashes[i] = status_name_hash(value, len);
    if (status_debug) {
        debug("SERVICE NUMBER %d...", i);
        debug("  host_name is \"%s\"", it.host_name);
    }
}

void complete_service_description(int i, const char *value, size_t len)
{
    item &it = service_list[i];
    size_t host_len = strlen(it.host_name);
    char *p = status_text(host_len + 1 + len + 1);
    memcpy(p, it.host_name, host_len);
    p[host_len] = ' ';
    memcpy(p + host_len + 1, value, len);
    p[host_len + 1 + len] = '\0';
    it.service_description = p;
    perl_hook(HOOK_SERVICE, p);
    // The alert knows a service by its description as the file gives it.
    if (alert_mode != 0) {
        bool rewritten = memcmp(p, it.host_name, host_len) != 0 || p[host_len] != ' ' ||
                         memcmp(p + host_len + 1, value, len) != 0 ||
                         p[host_len + 1 + len] != '\0';
        status_keep_description(i, rewritten ? value : nullptr, len);
    }
    if (status_debug) {
        debug("  raw service_description is \"%.*s\"", static_cast<int>(len), value);
        debug("  munged service_description is \"%s\"", p);
    }
}

void complete_service_state(int i, const char *value, size_t len)
{
    item &it = service_list[i];
    it.current_state = complete_state(value, len, false);
    if (status_debug)
        debug("  current_state is %s", debug_text(it.current_state));
}

void complete_service_change(int i, const char *value, size_t len)
{
    item &it = service_list[i];
    int n = status_number(value, len);
    complete_since = n;
    it.last_state_change = n;
    it.last_change = complete_change_text(n);
    if (status_debug)
        debug("  last_state_change is \"%s\" (%d)", it.last_change, n);
    it.duration = complete_duration_text(n);
    if (status_debug)
        debug("  duration is \"%s\"", it.duration);
}

void complete_service_output(int i, const char *value, size_t len, bool unchecked,
                             bool checked)
{
    item &it = service_list[i];
    it.plugin_output = status_copy(value, len);
    perl_hook(HOOK_SERVICE, it.plugin_output);
    if (status_debug) {
        debug("  raw plugin_output is \"%.*s\"", static_cast<int>(len), value);
        debug("  munged plugin_output is \"%s\"", it.plugin_output);
    }
    bool assumed = !checked && complete_since == 0 &&
                   len == sizeof SERVICE_PENDING_OUTPUT - 1 &&
                   memcmp(value, SERVICE_PENDING_OUTPUT, len) == 0;
    if (!unchecked && complete_since_start(complete_since, checked)) {
        // Replaced texts stay in the arena until the snapshot is released.
        int n = status_program_start;
        it.last_state_change = n;
        it.last_change = status_copy(NOT_APPLICABLE, sizeof NOT_APPLICABLE - 1);
        it.duration = complete_lasting_text(n);
    } else if (unchecked || assumed) {
        if (status_debug) {
            if (assumed)
                debug("  current_state is PENDING, inferred from \"(Service assumed to be ok)\" "
                      "on Jan 1 1970");
            else
                debug("  current_state is PENDING, inferred from has_been_checked=0");
        }
        it.current_state = status_copy("PENDING", 7);
        int n = last_update_int;
        it.last_state_change = n;
        it.last_change = status_copy(NOT_APPLICABLE, sizeof NOT_APPLICABLE - 1);
        it.duration = complete_duration_text(n);
    }
    int level = convert_level(it.current_state);
    service_idx_to_level[i] = level;
    if (level == 0)
        num_okay++;
    else if (level == 1)
        num_warn++;
    else
        num_crit++;
    service_list_size = i + 1;
}
