// SPDX-License-Identifier: GPL-2.0-or-later
// The screen: header rows, headings, item lines of the current page and the
// command prompt, repainted whole on every redraw. The geometry is read from
// LINES and COLS each time, so a resized terminal gets the new layout; every
// text is cut at the right edge and a text whose place is off the screen is
// skipped, so nothing ever wraps onto another row or leaves the screen.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include <curses.h>

#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"

namespace {

// The terminal size of the redraw under way.
int draw_lines, draw_cols;

// The items of the page drawn last, one per item row.
std::vector<int> draw_rows;
// The object under the cursor, by its texts: an index means nothing once the
// snapshot has been read again.
struct draw_cursor_object {
    int mode = -1;
    std::string host;
    std::string description;
    unsigned generation = 0;  // the snapshot it was last seen in
    bool follow = false;      // find it again at the next redraw
} draw_cursor;

bool draw_is_cursor_object(int idx)
{
    const item &it = object_mode == 0 ? host_list[idx] : service_list[idx];
    if (draw_cursor.mode != object_mode || !it.host_name || draw_cursor.host != it.host_name)
        return false;
    if (object_mode == 0)
        return true;
    return it.service_description && draw_cursor.description == it.service_description;
}

long long draw_found = -1;  // the cursor object's ordinal among the matches

void draw_find_cursor(long long ordinal, int idx)
{
    if (draw_found < 0 && draw_is_cursor_object(idx))
        draw_found = ordinal;
}

// After a new read the cursor goes to its object wherever that now stands;
// an object no longer shown leaves it on its row, or the nearest row left.
void draw_follow_cursor(const std::vector<int> &list, long long page_size)
{
    draw_found = -1;
    const long long matched = select_walk(list, 0, 0, LLONG_MAX, draw_find_cursor);
    if (page_size <= 0)
        return;
    if (draw_found >= 0) {
        cur_page = static_cast<int>(draw_found / page_size) + 1;
        cursor_row = static_cast<int>(draw_found % page_size);
        return;
    }
    const long long first = (static_cast<long long>(cur_page) - 1) * page_size;
    const long long rows = std::clamp(matched - first, 0LL, page_size);
    if (rows > 0 && cursor_row >= rows)
        cursor_row = static_cast<int>(rows - 1);
}

void draw_pair(int pair)
{
    if (color != 0)
        wattr_on(stdscr, COLOR_PAIR(pair), nullptr);
}

bool draw_move(long long row, long long col)
{
    if (row < 0 || row >= draw_lines || col < 0 || col >= draw_cols)
        return false;
    return wmove(stdscr, static_cast<int>(row), static_cast<int>(col)) != ERR;
}

// Writes text at the cursor, cut to what is left of the cursor's row.
void draw_here(const std::string &text)
{
    int y, x;
    getyx(stdscr, y, x);
    (void)y;
    std::string cut = draw_cut(text.c_str(), static_cast<long long>(draw_cols) - x);
    if (!cut.empty())
        waddnstr(stdscr, cut.c_str(), -1);
}

// A positioned text: skipped when its place is off the screen.
void draw_at(long long row, long long col, const std::string &text)
{
    if (draw_move(row, col))
        draw_here(text);
}

// Gives a whole row the colour in force.
void draw_paint_row(long long row)
{
    if (draw_move(row, 0))
        waddnstr(stdscr, std::string(static_cast<size_t>(draw_cols), ' ').c_str(), -1);
}

int draw_clamp(long long v)
{
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// Centred as the header centres: COLS / 2 - len / 2 + 2.
long long draw_centre(const std::string &text)
{
    return draw_cols / 2 - draw_width(text.c_str()) / 2 + 2;
}

// Ending at the right margin: COLS - header_pad - len.
long long draw_right(const std::string &text)
{
    return static_cast<long long>(draw_cols) - header_pad - draw_width(text.c_str());
}

// The lines of the sites without answer from row on, in the colour of a
// problem; returns how many rows they take.
long long draw_site_rows(long long row)
{
    const std::vector<std::string> lines = site_failure_lines();
    const int rows = select_site_rows();
    if (rows == 0)
        return 0;
    draw_pair(3);
    for (int k = 0; k < rows; k++) {
        std::string text = lines[static_cast<size_t>(k)];
        if (k == rows - 1 && lines.size() > static_cast<size_t>(rows))
            text = std::to_string(lines.size() - static_cast<size_t>(k)) +
                   " sites do not answer";
        draw_at(row + k, header_pad, text);
    }
    draw_pair(PAIR_BASE);
    return rows;
}

void draw_item_line(long long row, int idx)
{
    const long long p = pad;
    const item &it = object_mode == 0 ? host_list[idx] : service_list[idx];
    int level = object_mode == 0 ? host_idx_to_level[idx] : service_idx_to_level[idx];
    if (object_mode == 0)
        debug("DISPLAY: item %2d line %2d idx %3d: host=%s", draw_clamp(row - 6),
              draw_clamp(row), idx, debug_text(it.host_name));
    else
        debug("DISPLAY: item %2d line %2d idx %3d: host=%s svc=%s", draw_clamp(row - 6),
              draw_clamp(row), idx, debug_text(it.host_name), debug_text(it.service_description));

    std::string state = draw_marked_state(
        it.current_state, object_mode == 0 ? host_idx_to_marks[idx] : service_idx_to_marks[idx]);
    if (level < 0 || level > 2)
        level = 1;
    const bool under_cursor =
        cursor_row >= 0 && static_cast<size_t>(cursor_row) == draw_rows.size();
    draw_rows.push_back(idx);
    draw_pair(level + 1);
    if (under_cursor) {
        // Reverse video shows the cursor in black and white too.
        wattr_on(stdscr, A_REVERSE, nullptr);
        draw_cursor.mode = object_mode;
        draw_cursor.host = it.host_name ? it.host_name : "";
        draw_cursor.description =
            object_mode != 0 && it.service_description ? it.service_description : "";
    }
    if (color != 0 || under_cursor)
        draw_paint_row(row);
    draw_at(row, p, state);

    // An item of a site that does not answer is as its last good read gave it.
    if (site_stale(site_of_item(object_mode, idx)))
        draw_at(row, p + 9, "?");

    const long long w = static_cast<long long>(draw_cols) - 2 * p - 38;
    if (w > 0) {
        // A service's description already begins with its host name.
        const char *label = object_mode == 0 ? it.host_name : it.service_description;
        std::string name = std::string(label ? label : "") + (object_mode == 0 ? " " : "  ");
        int width = w > TEXT_SIZE - 1 ? TEXT_SIZE - 1 : static_cast<int>(w);
        draw_at(row, p + 10, draw_name_field(name.c_str(), it.plugin_output, width));
    }
    draw_at(row, draw_cols - p - 27, draw_change_text(it.last_change, it.duration));
    if (under_cursor)
        wattr_off(stdscr, A_REVERSE, nullptr);
    draw_pair(PAIR_BASE);
}

}  // namespace

void draw_screen()
{
    debug("draw_screen()...");
    debug("object_mode is %d", object_mode);
    debug("host_level is %d", host_level);
    debug("service_level is %d", service_level);
    debug("sort_mode is %d", sort_mode);
    debug("filter_set is %d", filter_set);

    draw_begin();
    const long long p = pad;
    const long long h = header_pad;

    const long long page_size = select_page_size(draw_lines);
    debug("page_size (items per page) is %d", draw_clamp(page_size));

    // The candidate list lives within this redraw; its storage is reused.
    static std::vector<int> seen_items;
    if (seen_items.capacity() < static_cast<size_t>(MAX_ITEMS))
        seen_items.reserve(MAX_ITEMS);

    const int total = select_level_total();
    const std::string count = draw_count_text(total);
    long long begin_item = select_page_start(total, page_size);
    if (cursor_row >= 0 &&
        (draw_cursor.follow || draw_cursor.generation != status_generation)) {
        select_candidates(seen_items);
        draw_follow_cursor(seen_items, page_size);
        begin_item = (static_cast<long long>(cur_page) - 1) * page_size;
    }
    draw_cursor.follow = false;
    draw_cursor.generation = status_generation;
    debug("begin_item is %d", draw_clamp(begin_item));

    if (need_swipe != 0) {
        if (draw_lines > 0)
            wmove(stdscr, draw_lines - 1, 0);
        wrefresh(stdscr);
        usleep(50000);
        need_swipe = 0;
    }

    draw_title_row(count);

    // The sites without answer, under the header; the list moves down.
    const long long q = p + draw_site_rows(p + 3);
    draw_at(q + 4, p, "Status   ");
    draw_at(q + 4, draw_cols - p - 41, "Plugin Output");
    draw_at(q + 4, p + 10, "Description");
    draw_at(q + 4, draw_cols - p - 27, "   Last Change     Duration");

    draw_at(q + 5, p, "-------- ");
    const long long dashes = draw_cols - p - 28 - (p + 10);
    if (dashes > 0)
        draw_at(q + 5, p + 10, std::string(static_cast<size_t>(dashes > draw_cols ? draw_cols
                                                                                 : dashes),
                                           '-'));
    draw_at(q + 5, draw_cols - p - 27, " ----------------  --------");

    select_candidates(seen_items);
    draw_rows.clear();
    const int matched = select_walk(seen_items, begin_item, q + 6, draw_lines - p - 3,
                                    draw_item_line);
    debug("items_matched is %d", matched);
    debug("total_items_matched is %d", matched);

    draw_at(p + 1, h, draw_age_text());
    if (filter_set != 0) {
        std::string match = draw_match_text(matched);
        draw_at(p + 1, draw_centre(match), match);
    }
    std::string sort = draw_sort_text();
    draw_at(p + 1, draw_right(sort), sort);

    draw_at(p + 2, h, draw_filter_text());
    num_pages = select_page_count(matched, page_size);
    std::string page = draw_page_text();
    draw_at(p + 2, draw_right(page), page);

    debug("cur_page is %d", cur_page);
    debug("num_pages is %d", num_pages);
    debug("done with draw_screen()");
    debug("%s", "");

    curs_set(0);
    draw_at(draw_lines - p - 1, p, "Command: ");
    seen_items.clear();
    wrefresh(stdscr);
}

void draw_begin()
{
    draw_lines = LINES;
    draw_cols = COLS;
    wclear(stdscr);
    if (color != 0) {
        draw_pair(PAIR_BASE);
        for (int row = 0; row < draw_lines; row++)
            draw_paint_row(row);
    }
}

void draw_text(long long row, long long col, const std::string &text)
{
    draw_at(row, col, text);
}

void draw_color(int pair)
{
    draw_pair(pair);
}

void draw_title_row(const std::string &centre)
{
    const long long p = pad;
    const long long h = header_pad;
    // The title follows at the cursor even where the site name had no place.
    const std::string title = std::string(" Quelvan v") + VERSION;
    if (draw_move(p, h))
        draw_here(site_name + title);
    else
        draw_here(title);
    draw_at(p, draw_centre(centre), centre);
    draw_at(p, draw_cols - h - 19, last_update);
}

int draw_text_right(const std::string &text)
{
    return draw_clamp(draw_right(text));
}

int draw_page_item(int row)
{
    return row >= 0 && static_cast<size_t>(row) < draw_rows.size()
               ? draw_rows[static_cast<size_t>(row)]
               : -1;
}

int draw_page_rows()
{
    return static_cast<int>(draw_rows.size());
}

void draw_cursor_on(int mode, const char *host, const char *description)
{
    draw_cursor.mode = mode;
    draw_cursor.host = host ? host : "";
    draw_cursor.description = description ? description : "";
    draw_cursor.follow = true;
}

void draw_start_colors()
{
    start_color();
    init_pair(1, COLOR_GREEN, COLOR_BLACK);
    init_pair(2, COLOR_YELLOW, COLOR_BLACK);
    init_pair(3, COLOR_RED, COLOR_BLACK);
    init_pair(PAIR_BASE, COLOR_CYAN, COLOR_BLACK);
}

void draw_alert()
{
    if (!status_alert_take())
        return;
    if (alert_mode == 2)
        flash();
    else if (alert_mode == 1)
        beep();
}
