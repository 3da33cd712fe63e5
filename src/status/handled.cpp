// Handled problems: the link of each service to its host, and the alert
// for unhandled problems that were not there at the previous refresh.
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include <curses.h>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

uint32_t host_name_hashes[MAX_ITEMS];
uint32_t service_host_hashes[MAX_ITEMS];

uint32_t status_name_hash(const char *text, size_t len)
{
    // Eight bytes at a time: names are short, and every name of the file
    // is hashed.
    uint64_t h = 0x9e3779b97f4a7c15ull ^ len;
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t v;
        memcpy(&v, text + i, 8);
        h = (h ^ v) * 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    if (i < len) {
        uint64_t v = 0;
        for (int shift = 0; i < len; i++, shift += 8)
            v |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << shift;
        h = (h ^ v) * 0xc4ceb9fe1a85ec53ull;
    }
    h ^= h >> 29;
    return static_cast<uint32_t>(h);
}

namespace {

// An open-addressing table of the host names whose stanza is DOWN or has no
// state name. Only those hosts can make a service handled, so the table is
// as small as the trouble; it is kept from one refresh to the next.
struct handled_slot {
    int idx;        // the first such host stanza of the name; -1 when empty
    uint32_t hash;  // of its name
    bool first;     // no stanza of an UP or PENDING host of the name stands before it
};
std::vector<handled_slot> handled_slots;
size_t handled_mask = 0;

// Host states are UP (level 0), DOWN (2), PENDING or none (1).
bool handled_blocks(int i)
{
    const int level = host_idx_to_level[i];
    return level == 2 || (level == 1 && host_list[i].current_state == nullptr);
}

// The slot of a name: the one that holds it, or the empty one where it
// belongs. Names are compared only when their hashes agree.
handled_slot &handled_find(const char *name, uint32_t hash)
{
    for (size_t k = hash & handled_mask;; k = (k + 1) & handled_mask) {
        handled_slot &s = handled_slots[k];
        if (s.idx < 0 || (s.hash == hash && strcmp(host_list[s.idx].host_name, name) == 0))
            return s;
    }
}

// Whether the table may hold a name of this hash, without touching a name.
bool handled_may_hold(uint32_t hash)
{
    for (size_t k = hash & handled_mask;; k = (k + 1) & handled_mask) {
        const handled_slot &s = handled_slots[k];
        if (s.idx < 0)
            return false;
        if (s.hash == hash)
            return true;
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
    handled_slots.assign(size, handled_slot{-1, 0, true});
    handled_mask = size - 1;
    for (int i = 0; i < host_list_size; i++) {
        if (!handled_blocks(i))
            continue;
        handled_slot &s = handled_find(host_list[i].host_name, host_name_hashes[i]);
        if (s.idx < 0)
            s = {i, host_name_hashes[i], true};
    }
    // An UP or PENDING stanza of the same name before it: that one is the host.
    for (int i = 0; i < host_list_size; i++) {
        if (!handled_may_hold(host_name_hashes[i]) || handled_blocks(i))
            continue;
        handled_slot &s = handled_find(host_list[i].host_name, host_name_hashes[i]);
        if (s.idx > i)
            s.first = false;
    }

    // Services of one host mostly stand together: the answer for the
    // previous service's host is used again.
    const char *last_name = nullptr;
    bool last_blocks = false;
    for (int i = 0; i < service_list_size; i++) {
        const uint32_t hash = service_host_hashes[i];
        if (!handled_may_hold(hash))
            continue;
        const char *name = service_list[i].host_name;
        if (!last_name || strcmp(name, last_name) != 0) {
            const handled_slot &s = handled_find(name, hash);
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
