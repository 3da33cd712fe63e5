// SPDX-License-Identifier: GPL-2.0-or-later
// quelvan: shared settings, tables and helpers of every subsystem.
#ifndef QUELVAN_H
#define QUELVAN_H

#include <cstdint>
#include <cstdio>
#include <string>

constexpr int MAX_ITEMS = 250000;          // capacity of each object table
constexpr int TEXT_SIZE = 1024;            // size of every settings text and work buffer
constexpr int NUM_FKEYS = 13;              // function-key slots 0..12 (F1..F12 use 1..12)
extern const char *const VERSION;          // the project version, from the build

// filter_set bits
constexpr int FILTER_REGEX = 1;            // name_filter: show only what matches
constexpr int FILTER_NOT_REGEX = 2;        // not_name_filter: hide what matches
constexpr int FILTER_AGE = 4;              // hide items older than age_filter_secs
constexpr int FILTER_OKAY_AGE = 8;         // hide level-0 items older than age_okay_filter_secs
constexpr int FILTER_UNHANDLED = 16;       // hide handled items (acknowledged, in downtime, host down)

// --- view settings ---
extern int object_mode;                    // 0 hosts, 1 services
extern int host_level;                     // 0 UP (all hosts) or 2 DOWN
extern int service_level;                  // 0 OKAY, 1 WARNING, 2 CRITICAL
extern int sort_mode;                      // 0 by name (table order), 1 by age
extern int filter_set;                     // FILTER_* bits
extern char name_filter[TEXT_SIZE];        // regex filter, without slashes
extern char not_name_filter[TEXT_SIZE];    // negative regex filter, without slashes
extern char age_filter[TEXT_SIZE];         // age filter, normalised text
extern int age_filter_secs;                // age filter in seconds
extern char age_okay_filter[TEXT_SIZE];    // okay-age filter, normalised text
extern int age_okay_filter_secs;           // okay-age filter in seconds
extern char fkey_name_filters[NUM_FKEYS][TEXT_SIZE];     // positive filters of F1..F12
extern char fkey_not_name_filters[NUM_FKEYS][TEXT_SIZE]; // negative filters of F1..F12
extern char site_name[TEXT_SIZE];          // title at the left of the header
extern int pad;                            // rows and columns left free at the edges
extern int header_pad;                     // columns left free beside the header texts
extern int polling_interval;               // seconds between automatic re-reads, 0 none
extern int color;                          // 1 colour, 0 black and white
extern int debugging;                      // number of -d; the log is on only at 1
extern int cur_page;                       // page shown, from 1
extern int num_pages;                      // pages of the last draw's selection
extern int need_swipe;                     // next draw shows the blank screen first
extern int spacebar_direction;             // space pages 0 down, 1 up
extern int alert_mode;                     // new unhandled problems: 0 off, 1 beep, 2 flash
extern int cursor_row;                     // the cursor's item row on the page from 0; -1 none yet
extern char command_file[TEXT_SIZE];       // the daemon's command pipe; empty: no actions
extern int ack_sticky;                     // acknowledgements: 1 sticky (the default), 0 normal
extern int ack_notify;                     // acknowledgements notify the contacts: 1 (the default), 0
// Puts every view setting back to its start value.
void settings_reset();

// --- sites: the daemons the console watches ---
constexpr int MAX_SITES = 64;              // site statements a configuration may hold
constexpr int SITE_NAME_SIZE = 33;         // a site's name: up to 32 characters and the NUL
constexpr int SITE_STATUS = 0;             // a status file (and its command pipe)
constexpr int SITE_LIVESTATUS_UNIX = 1;    // Livestatus over a unix socket
constexpr int SITE_LIVESTATUS_TCP = 2;     // Livestatus over TCP
struct site {
    char name[SITE_NAME_SIZE];             // letters, digits, '-' and '_'
    int kind;                              // SITE_*
    char path[TEXT_SIZE];                  // the status file or the unix socket
    char host[TEXT_SIZE];                  // TCP: the address, without brackets
    int port;                              // TCP: 1..65535
    char command_file[TEXT_SIZE];          // status sites: the command pipe; may be empty
};
extern site sites[MAX_SITES];              // the site statements in file order
extern int site_count;                     // 0: no site statement, the one status file
extern int site_timeout_secs;              // how long each site's read may take

// --- the snapshot of the last read ---
// Text fields are NUL-terminated texts in the snapshot's shared arena
// (status_text), all released together at the next refresh; absent is null.
struct item {
    char *host_name;
    char *service_description;             // "host description"; services only
    char *current_state;                   // "UP", "DOWN", "OKAY", ... or absent
    int64_t last_state_change;             // seconds since the epoch
    char *last_change;                     // 16 characters of ctime()
    char *duration;                        // "%dm %ds", "%dh %dm" or "%dd %dh"
    char *plugin_output;
};

struct age_node {
    int idx;                               // index in its table
    int age;                               // the item's last_state_change
    int level;                             // the item's level
    age_node *next;
};

extern item host_list[MAX_ITEMS];          // hosts in status-file order
extern item service_list[MAX_ITEMS];       // services in status-file order
extern int host_list_size;                 // filled host records
extern int service_list_size;              // filled service records
extern int host_idx_to_level[MAX_ITEMS];   // level of each host
extern int service_idx_to_level[MAX_ITEMS];// level of each service
// marks of each item: what makes it handled
constexpr unsigned char MARK_ACK = 1;      // problem_has_been_acknowledged
constexpr unsigned char MARK_DOWNTIME = 2; // scheduled_downtime_depth of 1 or more
constexpr unsigned char MARK_HOST = 4;     // a service whose host is DOWN or has no state name
extern unsigned char host_idx_to_marks[MAX_ITEMS];    // marks of each host
extern unsigned char service_idx_to_marks[MAX_ITEMS]; // marks of each service
extern int num_up, num_down;               // hosts at level 0 and 2
extern int num_okay, num_warn, num_crit;   // services at level 0, 1 and 2
extern char last_update[21];               // ctime() of the file's creation, 19 chars
extern int last_update_int;                // the file's creation time: "now"
extern age_node *hosts_by_age;             // hosts, newest state change first
extern age_node *services_by_age;          // services, newest state change first

// --- the system's files (fixed at build time) ---
extern const char *const status_file_path;   // the daemon's status file
extern const char *const system_rc_path;     // system-wide configuration file
extern const char *const hook_script_path;   // the site's Perl hook script
extern const char *const help_file_path;     // the help text

// --- shared helpers ---
// The debug log: one line on standard error, only while debugging is 1.
void debug(const char *format, ...) __attribute__((format(printf, 1, 2)));
// What the debug log shows for an absent text.
inline const char *debug_text(const char *s) { return s ? s : "(null)"; }
// Copies src into a TEXT_SIZE buffer, cut to 1023 characters.
void text_copy(char *dst, const char *src);

// The fatal error channels; each ends the process with status 1.
// Standard output, curses not involved (the command line).
[[noreturn]] void fatal_stdout(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Opens one of the system's files for reading, or ends with "fatal error:
// fopen PATH failed: reason" on standard error, curses ended first. Only a
// regular file (after links) is taken, with the reason "not a regular file"
// otherwise: a FIFO or a device would make the open or the reads wait.
FILE *file_open_regular(const char *path);
// The same without ending the program: null with the reason in why.
FILE *file_try_regular(const char *path, std::string &why);
// Standard output after curses has been ended (status file and tables).
[[noreturn]] void fatal_screen(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Standard output after curses has been ended (the hook script's errors);
// the message carries its own "\r\n".
[[noreturn]] void fatal_perl(const char *format, ...) __attribute__((format(printf, 1, 2)));

// curses is running (between initscr and the final endwin).
extern bool curses_active;

// The reader's progress on the command row, written by the reader itself
// (and nothing while curses is not running: fuzz targets, reader tests).
constexpr int PAIR_BASE = 4;               // colour pair of the base text (the screen starts it)
// "reading status.dat..." at the command row's start.
void progress_begin();
// "done" behind it; what follows is written in the base colour.
void progress_end();

#endif
