// SPDX-License-Identifier: GPL-2.0-or-later
// Handled problems: the link of each service to its host, and the alert
// for unhandled problems that were not there at the previous refresh.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

uint32_t host_name_hashes[MAX_ITEMS];
uint32_t service_host_hashes[MAX_ITEMS];

// Eight bytes at a time: names are short, and every name of the file is
// hashed.
static uint64_t status_hash(const char *text, size_t len)
{
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
    return h ^ (h >> 29);
}

uint32_t status_name_hash(const char *text, size_t len)
{
    return static_cast<uint32_t>(status_hash(text, len));
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
// The unhandled problems of a read: each key ("h" host, or "s" host NUL
// description, as the file gives them) in one text, found by its hash.
struct alert_key {
    uint64_t hash;
    uint32_t at, len;  // in the text
};
struct alert_set {
    std::string text;
    std::vector<alert_key> keys;  // sorted by hash
};
alert_set alert_sets[2];
int alert_previous = 0;      // which of the two holds the previous read's problems
bool alert_started = false;  // a refresh has given the first set
bool alert_due = false;      // the next redraw is followed by the alert
// By service, of the read under way: its description as the file gave it
// when the hook rewrote it, null when not.
std::vector<char *> alert_descriptions;

void alert_add(alert_set &set, const char *host, const char *description)
{
    const size_t at = set.text.size();
    set.text += description ? 's' : 'h';
    set.text += host;
    if (description) {
        set.text += '\0';
        set.text += description;
    }
    const size_t len = set.text.size() - at;
    set.keys.push_back({status_hash(set.text.data() + at, len), static_cast<uint32_t>(at),
                        static_cast<uint32_t>(len)});
}

// Whether some key of now is not among the keys of before.
bool alert_fresh(const alert_set &now, const alert_set &before)
{
    size_t j = 0;
    for (const alert_key &k : now.keys) {
        while (j < before.keys.size() && before.keys[j].hash < k.hash)
            j++;
        bool found = false;
        for (size_t m = j; m < before.keys.size() && before.keys[m].hash == k.hash && !found; m++)
            found = before.keys[m].len == k.len &&
                    memcmp(before.text.data() + before.keys[m].at, now.text.data() + k.at,
                           k.len) == 0;
        if (!found)
            return true;
    }
    return false;
}

bool handled_linked = false;  // the services of the snapshot are linked to their hosts

}  // namespace

void status_unlink_hosts()
{
    handled_linked = false;
}

void status_need_links()
{
    if (!handled_linked)
        status_link_hosts();
}

void status_link_hosts()
{
    handled_linked = true;
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
    alert_descriptions[static_cast<size_t>(i)] = value ? status_copy(value, len) : nullptr;
}

void status_alert_check()
{
    if (alert_mode == 0)
        return;
    status_need_links();
    alert_set &now = alert_sets[1 - alert_previous];
    const alert_set &before = alert_sets[alert_previous];
    now.text.clear();
    now.keys.clear();
    for (int i = 0; i < host_list_size; i++)
        if (host_idx_to_level[i] == 2 && host_idx_to_marks[i] == 0)
            alert_add(now, host_list[i].host_name, nullptr);
    for (int i = 0; i < service_list_size; i++) {
        if (service_idx_to_level[i] != 2 || service_idx_to_marks[i] != 0)
            continue;
        const item &it = service_list[i];
        const size_t k = static_cast<size_t>(i);
        // Kept when the hook rewrote it; otherwise it follows the host name.
        const char *description = k < alert_descriptions.size() && alert_descriptions[k]
                                      ? alert_descriptions[k]
                                      : it.service_description + strlen(it.host_name) + 1;
        alert_add(now, it.host_name, description);
    }
    std::sort(now.keys.begin(), now.keys.end(),
              [](const alert_key &a, const alert_key &b) { return a.hash < b.hash; });
    alert_due = alert_started && alert_fresh(now, before);
    alert_started = true;
    alert_previous = 1 - alert_previous;
}

char *status_kept_description(int i)
{
    const size_t k = static_cast<size_t>(i);
    return k < alert_descriptions.size() ? alert_descriptions[k] : nullptr;
}

void status_set_kept_description(int i, char *description)
{
    if (alert_descriptions.size() < static_cast<size_t>(MAX_ITEMS)) {
        if (!description)
            return;
        alert_descriptions.resize(MAX_ITEMS);
    }
    alert_descriptions[static_cast<size_t>(i)] = description;
}

void status_alert_site()
{
    if (alert_mode != 0)
        alert_due = true;
}

bool status_alert_take()
{
    const bool due = alert_due;
    alert_due = false;
    return due;
}
