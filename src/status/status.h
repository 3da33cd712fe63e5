// SPDX-License-Identifier: GPL-2.0-or-later
// Status snapshot: the object tables, the status file reader, item
// completion and the refresh cycle with its age lists.
#ifndef STATUS_STATUS_H
#define STATUS_STATUS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "quelvan.h"

extern int line;  // lines read from the status file so far

// Where each item's stanza header begins in the file of the last read.
extern int64_t host_idx_to_offset[MAX_ITEMS];
extern int64_t service_idx_to_offset[MAX_ITEMS];
// Where the last host or service stanza of that file begins: the daemon
// writes the comment and downtime stanzas after it.
extern int64_t status_notes_offset;
// Counts the reads, so that a screen can tell a new snapshot from the last.
extern unsigned status_generation;
// The file of the last read, kept open until the next read (-1 before the
// first): the daemon renames its new file over the old one, so this stays
// the file the snapshot was read from.
int status_snapshot_fd();

// --- the pieces of a refresh, for a reader of several sites ---
// Releases the snapshot: items, age lists and the texts in the arena.
void status_release();
// Orders both tables by age (hosts_by_age, services_by_age).
void status_order_by_age();
// Takes the texts read since the last release out of the arena (an opaque
// chain that stays valid), and gives such a chain back for reuse.
void *status_texts_take();
void status_texts_give(void *texts);
// Starts a read from a source other than the status file, whose present
// moment is now: the tables empty, the counts 0, the start time known.
void status_read_begin(int now, int program_start);
// A text in the arena, NUL-terminated; texts for a composed view.
char *status_copy_text(const char *text, size_t len);
// The description of service i as its source gave it, kept for the alert
// when the hook rewrote it (null otherwise or with the alert off).
char *status_kept_description(int i);
void status_set_kept_description(int i, char *description);
// After a refresh: notes whether an unhandled DOWN host or CRITICAL service
// has come up since the previous refresh (never on the first one).
void status_alert_check();
// A whole site turned bad: the alert rings after the next redraw.
void status_alert_site();

// The completion steps of an item, in this order for each (the status
// reader's and any other source's); value is the key's value as read (len bytes, not
// terminated), valid until the reader reads its next line.
void complete_host_name(int i, const char *value, size_t len);
void complete_host_state(int i, const char *value, size_t len);
void complete_host_output(int i, const char *value, size_t len);
// unchecked: the stanza said has_been_checked=0; checked: it gave a number
// other than 0 there.
void complete_host_change(int i, const char *value, size_t len, bool unchecked, bool checked);
void complete_service_name(int i, const char *value, size_t len);
void complete_service_description(int i, const char *value, size_t len);
void complete_service_state(int i, const char *value, size_t len);
void complete_service_change(int i, const char *value, size_t len);
void complete_service_output(int i, const char *value, size_t len, bool unchecked,
                             bool checked);

// A hash of a host name, taken while the reader's line is at hand, so that
// linking services to hosts need not touch the names again.
uint32_t status_name_hash(const char *text, size_t len);
extern uint32_t host_name_hashes[];     // of each host's name
extern uint32_t service_host_hashes[];  // of each service's host name

// A decimal number as "%d" reads it: leading white space, a sign, digits;
// no digits give 0 and a number beyond 32 bits is held at the nearest end.
int status_number(const char *text, size_t len);
// Level of a state text: 0 UP/OKAY, 2 DOWN/CRITICAL, 1 anything else or absent.
int convert_level(const char *text);
// Releases the snapshot, reads the status file anew and orders it by age.
void read_status();
// Reads the status file into the tables; every error ends the program.
void read_v23_status();
// Reads the status file at path as read_v23_status does, but where that
// ends the program this gives false with the short reason in why; the
// tables then hold a partial read.
bool status_read_file(const char *path, std::string &why);
// Links the services of the snapshot to their hosts (MARK_HOST) unless that
// is done: only the unhandled filter and the alert need it.
void status_need_links();
// Whether the last re-read brought an unhandled problem that was not there
// before; asking answers once.
bool status_alert_take();
// The 16-character last-change text of t (ctime() in local time, cut after
// the minutes), NUL-terminated.
void status_change_text(int t, char out[17]);
// The duration from since to the file's creation time ("%dm %ds", "%dh %dm"
// or "%dd %dh") into buf of at least 32 bytes; returns its length.
size_t complete_duration(int since, char *buf);
// Time from since to last_update_int as "%dm %ds", "%dh %dm" or "%dd %dh".
char *calc_duration(int since);

#endif
