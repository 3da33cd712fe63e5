// SPDX-License-Identifier: GPL-2.0-or-later
// The time texts of an item: its last change as ctime() writes it in local
// time, cut after the minutes, and how long that state has lasted.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

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

}  // namespace

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
