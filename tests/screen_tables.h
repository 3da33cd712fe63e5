// SPDX-License-Identifier: GPL-2.0-or-later
// In-process snapshots for the screen tests: items put straight into the
// object tables, with the counts and age lists the reader would leave.
#ifndef TESTS_SCREEN_TABLES_H
#define TESTS_SCREEN_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "quelvan.h"
#include "status/status.h"

namespace screen_tables {

inline char *own(const char *s) { return s ? strdup(s) : nullptr; }

inline void release_list(age_node *&head)
{
    while (head) {
        age_node *next = head->next;
        delete head;
        head = next;
    }
}

// Empties both tables and the age lists; the file's time becomes now.
inline void clear(int now = 1700000000)
{
    for (int t = 0; t < 2; t++) {
        item *list = t == 0 ? host_list : service_list;
        int size = t == 0 ? host_list_size : service_list_size;
        for (int i = 0; i < size; i++) {
            item &it = list[i];
            for (char **f : {&it.host_name, &it.service_description, &it.current_state,
                             &it.last_change, &it.duration, &it.plugin_output}) {
                free(*f);
                *f = nullptr;
            }
        }
    }
    host_list_size = service_list_size = 0;
    num_up = num_down = num_okay = num_warn = num_crit = 0;
    release_list(hosts_by_age);
    release_list(services_by_age);
    last_update_int = now;
    strcpy(last_update, "Tue Nov 14 22:13:20");
}

// A host or service (description given) as the reader completes it.
inline int add(const char *host, const char *description, const char *state,
               const char *output, long long last_state_change,
               const char *last_change = "Tue Nov 14 22:13", const char *duration = "0m 0s")
{
    bool service = description != nullptr;
    int &size = service ? service_list_size : host_list_size;
    item &it = (service ? service_list : host_list)[size];
    it.host_name = own(host);
    if (service)
        it.service_description = own((std::string(host) + " " + description).c_str());
    it.current_state = own(state);
    it.last_state_change = last_state_change;
    it.last_change = own(last_change);
    it.duration = own(duration);
    it.plugin_output = own(output);
    int level = convert_level(state);
    (service ? service_idx_to_level : host_idx_to_level)[size] = level;
    if (service)
        (level == 0 ? num_okay : level == 1 ? num_warn : num_crit)++;
    else if (level == 0)
        num_up++;
    else if (level == 2)
        num_down++;
    return size++;
}

// The age lists: newest state change first, equal ages in table order.
inline void order_by_age()
{
    for (int t = 0; t < 2; t++) {
        item *list = t == 0 ? host_list : service_list;
        int size = t == 0 ? host_list_size : service_list_size;
        const int *levels = t == 0 ? host_idx_to_level : service_idx_to_level;
        std::vector<int> order(static_cast<size_t>(size));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return list[a].last_state_change > list[b].last_state_change;
        });
        age_node *&head = t == 0 ? hosts_by_age : services_by_age;
        release_list(head);
        age_node **at = &head;
        for (int i : order) {
            *at = new age_node{i, static_cast<int>(list[i].last_state_change), levels[i],
                               nullptr};
            at = &(*at)->next;
        }
    }
}

}  // namespace screen_tables

#endif
