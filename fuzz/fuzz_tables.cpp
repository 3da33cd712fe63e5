// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quelvan.h"

namespace {

constexpr size_t TEXT_MAX = TEXT_SIZE - 1;

[[noreturn]] void fuzz_fail(const char *what, int i)
{
    fprintf(stderr, "fuzz: %s, item %d\n", what, i);
    abort();
}

void fuzz_tables_text(const char *text, size_t max, const char *what, int i)
{
    if (!text)
        fuzz_fail(what, i);
    if (!fuzz_tables_text_ok(text, max)) {
        fprintf(stderr, "fuzz: \"%.80s\"...: %zu characters\n", text, strlen(text));
        fuzz_fail(what, i);
    }
}

}  // namespace

bool fuzz_tables_text_ok(const char *text, size_t max)
{
    return text && strnlen(text, max + 1) <= max;
}

// Every entry below a table's size whole, its texts within their bounds.
void fuzz_tables_check()
{
    if (host_list_size < 0 || host_list_size > MAX_ITEMS || service_list_size < 0 ||
        service_list_size > MAX_ITEMS)
        abort();
    if (num_up + num_down > host_list_size ||
        num_okay + num_warn + num_crit > service_list_size)
        abort();
    for (int i = 0; i < host_list_size; i++) {
        const item &it = host_list[i];
        fuzz_tables_text(it.host_name, TEXT_MAX, "host name", i);
        fuzz_tables_text(it.plugin_output, TEXT_MAX, "host output", i);
        fuzz_tables_text(it.last_change, TEXT_MAX, "host last change", i);
        fuzz_tables_text(it.duration, TEXT_MAX, "host duration", i);
        if (it.current_state)
            fuzz_tables_text(it.current_state, TEXT_MAX, "host state", i);
        if (host_idx_to_level[i] < 0 || host_idx_to_level[i] > 2 || host_idx_to_marks[i] > 7)
            fuzz_fail("host level or marks", i);
    }
    for (int i = 0; i < service_list_size; i++) {
        const item &it = service_list[i];
        fuzz_tables_text(it.host_name, TEXT_MAX, "service host name", i);
        // "host description": two texts of a line each and the blank.
        fuzz_tables_text(it.service_description, 2 * TEXT_MAX + 1, "service description", i);
        fuzz_tables_text(it.plugin_output, TEXT_MAX, "service output", i);
        fuzz_tables_text(it.last_change, 16, "service last change", i);
        if (strlen(it.last_change) != 16)
            fuzz_fail("service last change of other than 16 characters", i);
        fuzz_tables_text(it.duration, TEXT_MAX, "service duration", i);
        if (it.current_state)
            fuzz_tables_text(it.current_state, TEXT_MAX, "service state", i);
        if (service_idx_to_level[i] < 0 || service_idx_to_level[i] > 2 ||
            service_idx_to_marks[i] > 7)
            fuzz_fail("service level or marks", i);
    }
}

void fuzz_tables_check_order()
{
    int n = 0;
    for (age_node *a = hosts_by_age; a; a = a->next, n++)
        if (a->idx < 0 || a->idx >= host_list_size || (a->next && a->next->age > a->age))
            abort();
    if (n != host_list_size)
        abort();
    n = 0;
    for (age_node *a = services_by_age; a; a = a->next, n++)
        if (a->idx < 0 || a->idx >= service_list_size || (a->next && a->next->age > a->age))
            abort();
    if (n != service_list_size)
        abort();
}

