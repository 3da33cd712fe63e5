// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh cycle: release the last snapshot, read the status file anew
// and order both tables by age, newest state change first.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <unistd.h>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

// The nodes of each age list, one block per list, kept from one refresh
// to the next.
std::vector<age_node> refresh_host_nodes;
std::vector<age_node> refresh_service_nodes;

struct refresh_key {
    uint32_t key;  // the age mapped so that ascending keys are newest first
    int idx;
};
// The order and the scratch space of its sort, kept from one refresh to the next.
std::vector<refresh_key> refresh_order;
std::vector<refresh_key> refresh_scratch;

uint32_t refresh_key_of(int age)
{
    return ~(static_cast<uint32_t>(age) ^ 0x80000000u);
}

// A stable radix sort by key, a byte at a time: equal keys keep table order.
void refresh_sort(std::vector<refresh_key> &order)
{
    const size_t n = order.size();
    if (refresh_scratch.size() < n)
        refresh_scratch.resize(n);
    refresh_key *src = order.data();
    refresh_key *dst = refresh_scratch.data();
    for (int shift = 0; shift < 32; shift += 8) {
        size_t start[257] = {};
        for (size_t i = 0; i < n; i++)
            start[((src[i].key >> shift) & 0xff) + 1]++;
        if (start[((src[0].key >> shift) & 0xff) + 1] == n)
            continue;  // one byte value throughout: nothing moves
        for (int b = 0; b < 256; b++)
            start[b + 1] += start[b];
        for (size_t i = 0; i < n; i++)
            dst[start[(src[i].key >> shift) & 0xff]++] = src[i];
        std::swap(src, dst);
    }
    if (src != order.data())
        std::copy(src, src + n, order.data());
}

void refresh_release_nodes()
{
    refresh_host_nodes.clear();
    refresh_service_nodes.clear();
    hosts_by_age = services_by_age = nullptr;
}

// The texts themselves go with the arena as a whole (status_texts_release);
// the debug log still names each text as it lets go of it, numbered by the
// field's place in the item (4 is last_state_change, not a text), and every
// field is emptied so that nothing points into the released arena.
void refresh_release_items(item *list, int size, const char *what)
{
    for (int i = 0; i < size; i++) {
        item &it = list[i];
        if (status_debug) {
            debug("freeing %s: [%d,%d] %s", what, i, 1, debug_text(it.host_name));
            debug("freeing %s: [%d,%d] %s", what, i, 2, debug_text(it.service_description));
            debug("freeing %s: [%d,%d] %s", what, i, 3, debug_text(it.current_state));
            debug("freeing %s: [%d,%d] %s", what, i, 5, debug_text(it.last_change));
            debug("freeing %s: [%d,%d] %s", what, i, 6, debug_text(it.duration));
            debug("freeing %s: [%d,%d] %s", what, i, 7, debug_text(it.plugin_output));
        }
        it.host_name = it.service_description = it.current_state = nullptr;
        it.last_change = it.duration = it.plugin_output = nullptr;
    }
}

// Newest first, equal ages in table order: the same order as inserting each
// item in table order behind every node of equal or greater age.
age_node *refresh_age_list(const item *list, const int *levels, int size,
                           std::vector<age_node> &nodes)
{
    if (size <= 0)
        return nullptr;
    std::vector<refresh_key> &order = refresh_order;
    order.resize(static_cast<size_t>(size));
    for (int i = 0; i < size; i++)
        order[static_cast<size_t>(i)] = {
            refresh_key_of(static_cast<int>(list[i].last_state_change)), i};
    refresh_sort(order);
    if (nodes.capacity() < static_cast<size_t>(size)) {
        nodes.clear();
        nodes.shrink_to_fit();
        nodes.reserve(static_cast<size_t>(size));
        status_prefer_huge(nodes.data(), nodes.capacity() * sizeof(age_node));
    }
    nodes.resize(static_cast<size_t>(size));
    age_node *n = nodes.data();
    for (int k = 0; k < size; k++) {
        const refresh_key &o = order[static_cast<size_t>(k)];
        n[k] = {o.idx, static_cast<int>(list[o.idx].last_state_change), levels[o.idx],
                k + 1 < size ? &n[k + 1] : nullptr};
    }
    return n;
}

}  // namespace

void status_release()
{
    static bool tables_hinted = false;
    if (!tables_hinted) {
        status_prefer_huge(host_list, sizeof host_list);
        status_prefer_huge(service_list, sizeof service_list);
        tables_hinted = true;
    }
    refresh_release_nodes();
    refresh_release_items(host_list, host_list_size, "host");
    refresh_release_items(service_list, service_list_size, "service");
    status_texts_release();
}

void status_refresh()
{
    status_debug = debugging == 1;
    if (status_debug)
        debug("read_status()...");
    status_release();
    read_v23_status();
    status_alert_check();
    status_order_by_age();
}

void status_order_by_age()
{
    hosts_by_age = refresh_age_list(host_list, host_idx_to_level, host_list_size,
                                    refresh_host_nodes);
    if (status_debug)
        for (age_node *n = hosts_by_age; n; n = n->next)
            debug("SERVICES BY AGE: idx=%d -> age=%d host=%s", n->idx, n->age,
                  debug_text(host_list[n->idx].host_name));
    services_by_age = refresh_age_list(service_list, service_idx_to_level, service_list_size,
                                       refresh_service_nodes);
    if (status_debug) {
        for (age_node *n = services_by_age; n; n = n->next)
            debug("SERVICES BY AGE: idx=%d -> age=%d host=%s svc=%s", n->idx, n->age,
                  debug_text(service_list[n->idx].host_name),
                  debug_text(service_list[n->idx].service_description));
        debug("%d host objects, %d up, %d down", host_list_size, num_up, num_down);
        debug("%d service objects, %d ok, %d warn, %d crit", service_list_size, num_okay,
              num_warn, num_crit);
        debug("done with read_status()");
        debug("%s", "");
    }
}

void read_status()
{
    status_refresh();
    progress_end();
    usleep(150000);
}
