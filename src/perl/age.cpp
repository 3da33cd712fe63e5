// SPDX-License-Identifier: GPL-2.0-or-later
// Age filter texts: a whole number and an optional unit.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "perl/perl_hook.h"

namespace {

struct age_unit {
    const char *words[3];
    const char *normal;
    int seconds;
};

const age_unit age_units[] = {
    {{"d", "day", "days"}, "%dd", 86400},
    {{"h", "hr", "hrs"}, "%dhr", 3600},
    {{"m", "min", "mins"}, "%dm", 60},
    {{"s", "sec", "secs"}, "%ds", 1},
};

// Reads a number as "%d" does: blanks, an optional sign, digits. Numbers
// beyond 32 bits are read whole so that they can be refused, not wrapped.
bool age_number(const char *&p, long long &n, bool &too_big)
{
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    const char *q = p;
    bool negative = false;
    if (*q == '+' || *q == '-')
        negative = *q++ == '-';
    if (!isdigit(static_cast<unsigned char>(*q)))
        return false;
    n = 0;
    too_big = false;
    for (; isdigit(static_cast<unsigned char>(*q)); q++) {
        if (n <= INT_MAX)
            n = n * 10 + (*q - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            too_big = true;
    }
    if (negative)
        n = -n;
    if (n > INT_MAX || n < INT_MIN)
        too_big = true;
    p = q;
    return true;
}

}  // namespace

int parse_age_filter(char *text, int size)
{
    const char *p = text;
    long long n;
    bool too_big;
    if (!age_number(p, n, too_big))
        return 0;

    // The unit is the next run of non-blanks, as "%s" reads it.
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    size_t len = 0;
    while (p[len] != '\0' && !isspace(static_cast<unsigned char>(p[len])))
        len++;

    const age_unit *unit = &age_units[3];
    if (len > 0) {
        unit = nullptr;
        for (const age_unit &u : age_units)
            for (const char *w : u.words)
                if (strlen(w) == len && strncmp(w, p, len) == 0)
                    unit = &u;
        if (!unit)
            return 0;
    }
    long long secs = n * unit->seconds;
    if (too_big || secs > INT_MAX || secs < INT_MIN)
        return 0;  // refused rather than wrapped
    if (size > 0)
        snprintf(text, static_cast<size_t>(size), unit->normal, static_cast<int>(n));
    return static_cast<int>(secs);
}
