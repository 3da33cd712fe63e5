// SPDX-License-Identifier: GPL-2.0-or-later
// Item selection and paging: which items a redraw shows. Nothing is kept
// between redraws; every filter, each regex hook call included, runs again.
#include <cstdint>
#include <cstring>

#include "perl/perl_hook.h"
#include <algorithm>

#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"

// The level setting of the current object mode.
static int select_level()
{
    return object_mode == 0 ? host_level : service_level;
}

int select_level_total()
{
    if (object_mode == 0)
        return host_level == 2 ? num_down : host_list_size;
    switch (service_level) {
    case 0:
        return service_list_size;
    case 1:
        return num_crit + num_warn;
    default:
        return num_crit;
    }
}

int select_site_rows()
{
    const int failing = static_cast<int>(site_failure_lines().size());
    return std::min(failing, SELECT_SITE_ROWS);
}

long long select_page_size(int lines)
{
    return static_cast<long long>(lines) - 2LL * pad - 9 - select_site_rows();
}

int select_page_count(int n, long long page_size)
{
    if (page_size <= 0 || n <= 0)
        return 0;  // no item row: nothing to page through
    long long pages = n / page_size + (n % page_size != 0 ? 1 : 0);
    return static_cast<int>(pages);
}

long long select_page_start(int total, long long page_size)
{
    num_pages = select_page_count(total, page_size);
    // With no item row there is no page to correct the page number by.
    if (page_size > 0 && cur_page > num_pages)
        cur_page = num_pages;
    return (static_cast<long long>(cur_page) - 1) * page_size;
}

void select_candidates(std::vector<int> &list)
{
    list.clear();
    const int level = select_level();
    if (sort_mode == 1) {
        for (const age_node *n = object_mode == 0 ? hosts_by_age : services_by_age; n;
             n = n->next)
            if (n->level >= level)
                list.push_back(n->idx);
        return;
    }
    const int size = object_mode == 0 ? host_list_size : service_list_size;
    const int *levels = object_mode == 0 ? host_idx_to_level : service_idx_to_level;
    for (int i = 0; i < size; i++)
        if (levels[i] >= level)
            list.push_back(i);
}

namespace {

// Appends s (absent counts as empty) at text + *at, keeping to 1023 bytes.
void select_append(char *text, size_t *at, const char *s)
{
    if (!s)
        return;
    size_t room = TEXT_SIZE - 1 - *at;
    size_t n = strnlen(s, room);
    memcpy(text + *at, s, n);
    *at += n;
}

}  // namespace

void select_filter_text(int idx, char *text)
{
    const item &it = object_mode == 0 ? host_list[idx] : service_list[idx];
    size_t at = 0;
    select_append(text, &at, it.host_name);
    select_append(text, &at, " ");
    if (object_mode != 0) {
        select_append(text, &at, it.service_description);
        select_append(text, &at, " ");
    }
    select_append(text, &at, it.plugin_output);
    text[at] = '\0';
}

// Runs the active filters on item idx, the first failing test ending the
// walk; text is a TEXT_SIZE work buffer for the regex texts.
static bool select_passes(int idx, char *text)
{
    const int set = filter_set;
    // A handled item is dropped before any hook is called for it.
    if ((set & FILTER_UNHANDLED) &&
        (object_mode == 0 ? host_idx_to_marks[idx] : service_idx_to_marks[idx]) != 0)
        return false;
    if (set & (FILTER_REGEX | FILTER_NOT_REGEX)) {
        // Both regex tests see the same text, so it is built once.
        select_filter_text(idx, text);
        if ((set & FILTER_REGEX) && perl_regex_hook(text, name_filter, 0) != 0)
            return false;
        if ((set & FILTER_NOT_REGEX) && perl_regex_hook(text, not_name_filter, 1) != 0)
            return false;
    }
    if (set & (FILTER_AGE | FILTER_OKAY_AGE)) {
        const item &it = object_mode == 0 ? host_list[idx] : service_list[idx];
        // Measured in 64 bits: a change time far from the file's time must
        // not wrap into a small or negative age.
        const int64_t age =
            static_cast<int64_t>(site_item_now(object_mode, idx)) - it.last_state_change;
        if ((set & FILTER_AGE) && age > age_filter_secs)
            return false;
        if ((set & FILTER_OKAY_AGE) && age > age_okay_filter_secs) {
            const int level = object_mode == 0 ? host_idx_to_level[idx] : service_idx_to_level[idx];
            if (level == 0)
                return false;
        }
    }
    return true;
}

int select_walk(const std::vector<int> &list, long long begin_item, long long first_row,
                long long row_limit, select_show show)
{
    if (filter_set & FILTER_UNHANDLED)
        status_need_links();
    char text[TEXT_SIZE];
    long long row = first_row;
    int matched = 0;
    for (int idx : list) {
        if (!select_passes(idx, text))
            continue;
        if (matched >= begin_item && row < row_limit) {
            if (show)
                show(row, idx);
            row++;
        }
        matched++;
    }
    return matched;
}
