// SPDX-License-Identifier: GPL-2.0-or-later
// Status snapshot: the object tables, the status file reader, item
// completion and the refresh cycle with its age lists.
#ifndef STATUS_STATUS_H
#define STATUS_STATUS_H

#include <cstddef>
#include <cstdint>

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

// Level of a state text: 0 UP/OKAY, 2 DOWN/CRITICAL, 1 anything else or absent.
int convert_level(const char *text);
// Releases the snapshot, reads the status file anew and orders it by age.
void read_status();
// Reads the status file into the tables; every error ends the program.
void read_v23_status();
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
