// SPDX-License-Identifier: GPL-2.0-or-later
// Screen: item selection, paging and drawing.
#ifndef SCREEN_SCREEN_H
#define SCREEN_SCREEN_H

#include <string>
#include <vector>

// Repaints the whole terminal from the settings and the snapshot.
void draw_screen();

// --- pieces of a screen, for every screen's own draw ---
// Takes the terminal's size, clears the screen and paints it in the base
// colour (while colour is on).
void draw_begin();
// A text at (row, col), cut at the right edge; skipped when off the screen.
void draw_text(long long row, long long col, const std::string &text);
// The colour pair of what follows, while colour is on.
void draw_color(int pair);
// The title row: site name, title and version; centre in the middle; the
// status file's time at the right.
void draw_title_row(const std::string &centre);
// The column at which text ends at the header's right margin.
int draw_text_right(const std::string &text);

// --- the cursor (cursor_row) ---
// The item drawn on the page's item row row (from 0) at the last redraw, or -1.
int draw_page_item(int row);
// How many item rows the last redraw filled.
int draw_page_rows();
// Puts the cursor on that object at the next redraw, wherever it stands then
// (a service by its description, which begins with the host name).
void draw_cursor_on(int mode, const char *host, const char *description);

// --- colours: pairs 1 to 3 for the item levels 0 to 2, pair 4 (PAIR_BASE) the base ---
// Starts curses' colours and sets the four pairs (after initscr or newterm).
void draw_start_colors();

// After the redraw that follows a re-read: beep or flash (alert_mode) when
// the re-read brought an unhandled problem that was not there before.
void draw_alert();

// --- selection: every redraw works these out afresh ---
// Items at or above that level, from the counts of the last read.
int select_level_total();
// Item rows of a terminal of lines rows: lines - 2 * pad - 9 (may be 0 or less).
long long select_page_size(int lines);
// Rows under the header that name the sites without answer (at most
// SELECT_SITE_ROWS; the last then counts the rest).
constexpr int SELECT_SITE_ROWS = 4;
int select_site_rows();
// Pages for n matches; 0 when there is no item row at all.
int select_page_count(int n, long long page_size);
// The provisional page count of the level total (into num_pages), the page
// check that only ever lowers cur_page, and the ordinal of the page's first match.
long long select_page_start(int total, long long page_size);
// The candidates of the current mode and level, in name (table) or age order.
void select_candidates(std::vector<int> &list);
// The text the regex filters see, cut to 1023 bytes, in text (TEXT_SIZE
// bytes): a host's name, a blank and its output; a service's host name, a
// blank, its service_description (which holds "host description") and a
// blank before its output, so "host host description output".
void select_filter_text(int idx, char *text);
// Walks the candidates through the filters and counts every match. A match
// whose ordinal is at least begin_item gets the next free row while that row
// is below row_limit; show (when given) draws it there. Returns the matches.
using select_show = void (*)(long long row, int idx);
int select_walk(const std::vector<int> &list, long long begin_item, long long first_row,
                long long row_limit, select_show show);

// --- texts measured in display columns (UTF-8 aware, whole characters) ---
// Columns that s takes on the screen; a byte that is no character, or a
// character that cannot be shown, takes one column as '?'.
int draw_width(const char *s);
// The len bytes of s as rows of at most width columns, broken after a blank
// where a row has one, characters shown as draw_cut shows them; an empty
// text is one empty row.
std::vector<std::string> draw_wrap(const char *s, size_t len, long long width);
// s cut to at most width columns, never splitting a character.
std::string draw_cut(const char *s, long long width);
// The name field of w columns: output right-aligned, name written over its start.
std::string draw_name_field(const char *name, const char *output, int w);
// State text: 8 columns and a blank; an absent state shows blanks.
std::string draw_state_text(const char *state);
// The state text of an item in downtime ("/DT") or acknowledged ("/ACK"):
// the state's first four characters and the mark; otherwise as above.
std::string draw_marked_state(const char *state, unsigned char marks);
// Change text: a blank, last change in 16 columns, two blanks, duration in 8.
std::string draw_change_text(const char *last_change, const char *duration);

// --- header texts of the current settings ---
std::string draw_count_text(int total);
std::string draw_match_text(int matched);
std::string draw_age_text();
std::string draw_sort_text();
std::string draw_filter_text();
std::string draw_page_text();

#endif
