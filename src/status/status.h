// SPDX-License-Identifier: GPL-2.0-or-later
// Status snapshot: the object tables, the status file reader, item
// completion and the refresh cycle with its age lists.
#ifndef STATUS_STATUS_H
#define STATUS_STATUS_H

extern int line;  // lines read from the status file so far

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
// Time from since to last_update_int as "%dm %ds", "%dh %dm" or "%dd %dh".
char *calc_duration(int since);

#endif
