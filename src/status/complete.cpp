// SPDX-License-Identifier: GPL-2.0-or-later
// Item completion: what becomes of each value the reader finds in a host or
// service stanza (state names, hooks, PENDING, last-change and duration
// texts, levels and counts).
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

const char HOST_PENDING_OUTPUT[] = "(Host assumed to be up)";
const char SERVICE_PENDING_OUTPUT[] = "(Service assumed to be ok)";
const char NOT_APPLICABLE[] = " not applicable ";

// A service's last_state_change, kept for its plugin output that follows in
// the stanza: 0 there with the daemon's "assumed to be ok" text means pending.
int complete_since = 0;

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
