// SPDX-License-Identifier: GPL-2.0-or-later
// The detail screen: the whole record of one object of the snapshot, read
// again from the status file that the snapshot was read from.
#ifndef DETAIL_DETAIL_H
#define DETAIL_DETAIL_H

#include <cstddef>
#include <string>
#include <vector>

// --- texts of a record ---
// long_plugin_output as the daemon meant it: the file's "\n" becomes a
// newline and "\\" a backslash; any other byte stays as it is.
std::string detail_unescape(const char *text, size_t len);

// One piece of a performance-data text. A piece that is no metric
// (garbage between metrics, a label without "=") keeps only raw.
struct detail_metric {
    bool parsed;          // label and value were read
    std::string raw;      // the piece as written
    std::string label;    // quotes taken off, a doubled ' made single
    std::string value;    // the number as written, or U (not determined)
    std::string unit;     // s, ms, us, %, B, KB, MB, TB, c, any other text
                          // behind the number as written, or empty
    std::string warn;     // the range as written, or empty
    std::string crit;
    std::string min;
    std::string max;
};
// Splits a performance-data text into its pieces, in order; fields past
// max are dropped (raw keeps them).
std::vector<detail_metric> detail_perfdata(const char *text, size_t len);
// A bar of width columns showing where the value stands in its range (min
// to max; 0 to 100 for % without them), or empty where no range is known.
// Narrower than 3 columns it is the cells without their brackets.
std::string detail_bar(const detail_metric &m, int width);

// --- stanzas of a status file ---
struct detail_field {
    std::string key;
    std::string value;
};
// One stanza: its type ("servicestatus", "hostcomment", ...) and its
// key/value lines in file order.
struct detail_stanza {
    std::string type;
    std::vector<detail_field> fields;
};
// The value of the first line with that key, or null.
const std::string *detail_value(const detail_stanza &s, const char *key);
// Reads the stanza whose header line ("type {") starts at text, up to its
// closing brace or the end of the bytes; returns the bytes used (0 when
// text holds no stanza header).
size_t detail_read_stanza(const char *text, size_t len, detail_stanza &out);

// A comment of an object (hostcomment, servicecomment).
struct detail_comment {
    int entry_type;       // 1 user, 2 downtime, 3 flapping, 4 acknowledgement
    long long entry_time;
    bool persistent;
    bool expires;
    long long expire_time;
    std::string author;
    std::string text;     // comment_data
};
// A downtime of an object (hostdowntime, servicedowntime).
struct detail_downtime {
    long long entry_time;
    long long start_time;
    long long end_time;
    bool fixed;
    long long duration;
    bool in_effect;
    std::string author;
    std::string text;     // comment
};
// The comments and downtimes among the stanzas of [text, text + len) that
// belong to host (service null) or to host's service of that description,
// in file order, appended to comments and downtimes. Numbers that are none
// read as 0.
void detail_notes(const char *text, size_t len, const char *host, const char *service,
                  std::vector<detail_comment> &comments, std::vector<detail_downtime> &downtimes);

// --- the screen ---
// Opens the detail screen of item idx of the hosts (mode 0) or services.
void detail_open(int mode, int idx);
// The detail screen is shown (the keys go to detail_key).
bool detail_shown();
// The object shown, for a command to the daemon: hosts (mode 0) or
// services, its host name and service description as the file gives them,
// its level, whether its notifications are on and its site (-1 without
// site statements). False when it has left the snapshot.
bool detail_target(int &mode, std::string &host, std::string &service, int &level,
                   bool &notifications, int &site);
// Carries out a key of the detail screen, without the redraw that follows.
void detail_key(int c);
// Draws the detail screen from the snapshot: after a new read, the same
// object as read anew, or word that it has gone.
void detail_draw();
// Repaints whichever screen is shown, the detail screen or the list, and
// rings the alert after the redraw of a re-read.
void detail_repaint();

#endif
