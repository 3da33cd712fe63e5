// SPDX-License-Identifier: GPL-2.0-or-later
// Pieces of the status snapshot shared by its own files (and its tests and
// benchmark): the text arena, the completion steps and the refresh without
// its screen work.
#ifndef STATUS_STATUS_PRIVATE_H
#define STATUS_STATUS_PRIVATE_H

#include <cstddef>
#include <cstdint>

// The item texts of one snapshot live in one arena: a text is a bump
// allocation, and releasing the snapshot frees the arena as a whole.
char *status_text(size_t size);
char *status_copy(const char *text, size_t len);
void status_texts_release();
// Asks for huge pages over the whole 2 MB pages inside [p, p + len): large
// tables are faulted in with far fewer page faults. A hint only.
void status_prefer_huge(void *p, size_t len);

// Whether the debug log is on for the read under way (checked once per read).
extern bool status_debug;

// Per-read set-up of the completion: the local-time cache.
void complete_start();

// The daemon's start time (program_start of the program stanza), 0 when the
// file has not given one so far.
extern int status_program_start;
// Marks each service whose host (the first host stanza of its name) is DOWN
// or has no state name with MARK_HOST, once the whole file is read.
void status_link_hosts();
// Forgets the links of the last read (a new read is under way).
void status_unlink_hosts();
// While the alert is on, for each service of a read: its description as
// the file gave it when the hook rewrote the item's text, or null.
void status_keep_description(int i, const char *value, size_t len);


// The same texts in the arena.
char *complete_duration_text(int since);
char *complete_change_text(int t);

// A refresh without its screen work: release, read, age lists, debug lines.
void status_refresh();

#endif
