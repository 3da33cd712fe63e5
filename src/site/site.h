// SPDX-License-Identifier: GPL-2.0-or-later
// Sites: the daemons of the site statements read side by side into one
// view. A site that fails keeps its items of its last good read, marked
// stale; without site statements the one status file is read as ever.
#ifndef SITE_SITE_H
#define SITE_SITE_H

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan.h"

// The site of each item of the view (an index into sites; 0 without sites).
extern unsigned char host_idx_to_site[MAX_ITEMS];
extern unsigned char service_idx_to_site[MAX_ITEMS];

// Reads every site anew: status files at once, Livestatus sites in the
// background, whose replies site_collect takes in as they come. With wait
// the call returns once every site has answered or timed out (start-up).
// Without site statements: the status file, whose errors end the program.
void site_read(bool wait);
// Readable while a site's reply waits to be taken in (-1 without sites).
int site_wake_fd();
// Milliseconds until the next read in the background reaches its time
// limit, -1 when none is under way.
int64_t site_wait_ms();
// Takes in the replies that have come, the reads that ran out of time and
// the detail screen's answer; true when the view changed and wants a redraw.
bool site_collect();

// The site's last read failed: its items are those of its last good read.
bool site_stale(int k);
// One line for each failing site: "site NAME: no answer since HH:MM:SS (reason)".
std::vector<std::string> site_failure_lines();
// The present moment of the snapshot an item comes from (hosts mode 0).
int site_item_now(int mode, int idx);
// The site an item comes from, or -1 without site statements.
int site_of_item(int mode, int idx);
// Of a status-file site's snapshot: its file, kept open (-1 none), and where
// its comment and downtime stanzas begin.
int site_snapshot_fd(int k);
int64_t site_notes_offset(int k);
// The name of a site's object as its source gave it: the item's text
// without the "NAME:" of a view of several sites.
const char *site_raw_name(int k, const char *text);
// A Livestatus site's object as the site names it: host name and service
// description (empty for a host); false where the item has none.
bool site_source_names(int mode, int idx, std::string &host, std::string &service);
// A status-file site has written a newer file than its snapshot's.
bool site_newer_file();

// What the detail screen has of a Livestatus site's object.
enum site_record_state {
    SITE_RECORD_NONE,    // no Livestatus object, or its site is failing: nothing asked
    SITE_RECORD_ASKING,  // asked for, no answer yet
    SITE_RECORD_GIVEN,   // the site's answer
    SITE_RECORD_FAILED,  // the site gave none: why says why
};
// The record of item idx's object as its Livestatus site last gave it, as
// a status file's stanza, and its comments and downtimes as the stanzas a
// status file has for them. Where the view was read since that answer,
// the object is asked for anew in the background and the last answer given
// meanwhile; site_collect takes the new one in, and site_record_serial
// changes then.
site_record_state site_record(int mode, int idx, std::string &stanza, std::string &notes,
                              std::string &why);
unsigned site_record_serial();

#endif
