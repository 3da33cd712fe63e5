// Handled problems: the link of each service to its host, and the alert
// for unhandled problems that were not there at the previous refresh.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <curses.h>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

// An open-addressing table of the host names whose stanza is DOWN or has no
// state name. Only those hosts can make a service handled, so the table is
// as small as the trouble; it is kept from one refresh to the next.
struct handled_slot {
    int idx;        // the first such host stanza of the name; -1 when empty
    bool first;     // no stanza of an UP or PENDING host of the name stands before it
};
std::vector<handled_slot> handled_slots;
size_t handled_mask = 0;

bool handled_blocks(int i)
{
    return host_idx_to_level[i] == 2 || host_list[i].current_state == nullptr;
}

size_t handled_hash(const char *name)
{
    return std::hash<std::string_view>{}(std::string_view(name));
}

// The slot of name: the one that holds it, or the empty one where it belongs.
handled_slot &handled_find(const char *name, size_t hash)
{
    for (size_t k = hash & handled_mask;; k = (k + 1) & handled_mask) {
        handled_slot &s = handled_slots[k];
        if (s.idx < 0 || strcmp(host_list[s.idx].host_name, name) == 0)
            return s;
    }
}

// --- the alert ---
std::unordered_set<std::string> alert_previous;  // problems of the previous refresh
std::unordered_set<std::string> alert_current;
bool alert_started = false;  // a refresh has given the first set
bool alert_due = false;      // the next redraw is followed by the alert
std::vector<char *> alert_descriptions;  // raw descriptions, by service index

}  // namespace

void status_link_hosts()
{
    int blocking = 0;
    for (int i = 0; i < host_list_size; i++)
        blocking += handled_blocks(i);
    if (blocking == 0)
        return;

    size_t size = 16;
    while (size < static_cast<size_t>(blocking) * 2)
        size *= 2;
    handled_slots.assign(size, handled_slot{-1, true});
    handled_mask = size - 1;
    for (int i = 0; i < host_list_size; i++) {
        if (!handled_blocks(i))
            continue;
        handled_slot &s = handled_find(host_list[i].host_name, handled_hash(host_list[i].host_name));
        if (s.idx < 0)
            s.idx = i;
    }
    // An UP or PENDING stanza of the same name before it: that one is the host.
    for (int i = 0; i < host_list_size; i++) {
        if (handled_blocks(i))
            continue;
        handled_slot &s = handled_find(host_list[i].host_name, handled_hash(host_list[i].host_name));
        if (s.idx > i)
            s.first = false;
    }

    // Services of one host mostly stand together: the answer for the
    // previous service's host is used again.
    const char *last_name = nullptr;
    bool last_blocks = false;
    for (int i = 0; i < service_list_size; i++) {
        const char *name = service_list[i].host_name;
        if (!last_name || strcmp(name, last_name) != 0) {
            const handled_slot &s = handled_find(name, handled_hash(name));
            last_name = name;
            last_blocks = s.idx >= 0 && s.first;
        }
        if (last_blocks)
            service_idx_to_marks[i] |= MARK_HOST;
    }
}

void status_keep_description(int i, const char *value, size_t len)
{
    if (alert_descriptions.size() < static_cast<size_t>(MAX_ITEMS))
        alert_descriptions.resize(MAX_ITEMS);
    alert_descriptions[static_cast<size_t>(i)] = status_copy(value, len);
}

void status_alert_check()
{
    if (alert_mode == 0)
        return;
    // A host by its name, a service by its host's name and its description,
    // as the file gives them; the first byte tells the two apart.
    alert_current.clear();
    bool fresh = false;
    std::string key;
    for (int i = 0; i < host_list_size; i++) {
        if (host_idx_to_level[i] != 2 || host_idx_to_marks[i] != 0)
            continue;
        key.assign("h");
        key += host_list[i].host_name;
        fresh |= alert_previous.count(key) == 0;
        alert_current.insert(key);
    }
    for (int i = 0; i < service_list_size; i++) {
        if (service_idx_to_level[i] != 2 || service_idx_to_marks[i] != 0)
            continue;
        const char *description = static_cast<size_t>(i) < alert_descriptions.size() &&
                                          alert_descriptions[static_cast<size_t>(i)]
                                      ? alert_descriptions[static_cast<size_t>(i)]
                                      : "";
        key.assign("s");
        key += service_list[i].host_name;
        key += '\0';
        key += description;
        fresh |= alert_previous.count(key) == 0;
        alert_current.insert(key);
    }
    alert_previous.swap(alert_current);
    alert_due = alert_started && fresh;
    alert_started = true;
    // The kept descriptions live in the snapshot's arena.
    for (int i = 0; i < service_list_size && static_cast<size_t>(i) < alert_descriptions.size(); i++)
        alert_descriptions[static_cast<size_t>(i)] = nullptr;
}

void status_ring()
{
    if (!alert_due)
        return;
    alert_due = false;
    if (alert_mode == 2)
        flash();
    else if (alert_mode == 1)
        beep();
}
