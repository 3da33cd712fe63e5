// SPDX-License-Identifier: GPL-2.0-or-later
// The detail screen: one object's record, scrolled by the keys, redrawn from
// each new snapshot for the same object.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <curses.h>

#include "detail/detail.h"
#include "detail/detail_private.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"

namespace {

constexpr int CTRL_B = 2, CTRL_F = 6, KEY_ESCAPE = 27, KEY_DELETE = 127, CTRL_H = 8;

struct detail_view {
    bool shown = false;
    // The object, by its texts: after a new read it is looked up again.
    int mode = 0;
    std::string host;
    std::string description;
    int idx = -1;                // in the snapshot of generation; -1 gone
    unsigned generation = 0;
    long long width = -1;        // the rows were made for this width
    unsigned answers = 0;        // and with this answer of a Livestatus site
    std::vector<detail_row> rows;
    long long top = 0;           // first row shown
} detail;

// The item of the object in the snapshot at hand, or -1.
int detail_find()
{
    const bool host = detail.mode == 0;
    const int size = host ? host_list_size : service_list_size;
    const item *list = host ? host_list : service_list;
    for (int i = 0; i < size; i++) {
        const item &it = list[i];
        if (!it.host_name || detail.host != it.host_name)
            continue;
        if (host || (it.service_description && detail.description == it.service_description))
            return i;
    }
    return -1;
}

// After a new read: the same object in the new snapshot, rows made anew.
void detail_follow()
{
    if (detail.generation == status_generation)
        return;
    detail.idx = detail_find();
    detail.generation = status_generation;
    detail.width = -1;
}

long long detail_body_first() { return static_cast<long long>(pad) + 3; }
// Rows of the body: between the header and the key line.
long long detail_body_rows()
{
    return std::max(static_cast<long long>(LINES) - 2LL * pad - 6, 0LL);
}

long long detail_last_top()
{
    return std::max(static_cast<long long>(detail.rows.size()) - detail_body_rows(), 0LL);
}

void detail_scroll(long long by)
{
    detail.top = std::clamp(detail.top + by, 0LL, detail_last_top());
}

// Makes the rows for the snapshot and width at hand.
void detail_build()
{
    const long long width = std::max(static_cast<long long>(COLS) - 2LL * pad, 1LL);
    detail_follow();
    if (detail.width == width && detail.answers == site_record_serial())
        return;
    detail.width = width;
    detail.answers = site_record_serial();
    if (detail.idx >= 0) {
        detail.rows = detail_record(detail.mode, detail.idx, width);
    } else {
        const std::string name = detail.mode == 0 ? detail.host : detail.description;
        detail.rows = {{draw_cut((name + ": no longer in the status file").c_str(), width),
                        PAIR_BASE}};
    }
    detail.top = std::min(detail.top, detail_last_top());
}

}  // namespace

void detail_open(int mode, int idx)
{
    const item &it = mode == 0 ? host_list[idx] : service_list[idx];
    detail.shown = true;
    detail.mode = mode;
    detail.host = it.host_name ? it.host_name : "";
    detail.description = mode != 0 && it.service_description ? it.service_description : "";
    detail.idx = idx;
    detail.generation = status_generation;
    detail.width = -1;
    detail.rows.clear();
    detail.top = 0;
}

bool detail_shown()
{
    return detail.shown;
}

bool detail_target(int &mode, std::string &host, std::string &service, int &level,
                   bool &notifications, int &site)
{
    if (!detail.shown)
        return false;
    detail_follow();
    if (detail.idx < 0)
        return false;
    mode = detail.mode;
    level = mode == 0 ? host_idx_to_level[detail.idx] : service_idx_to_level[detail.idx];
    site = site_of_item(mode, detail.idx);
    return detail_facts(mode, detail.idx, host, service, notifications);
}

void detail_key(int c)
{
    const long long page = std::max(detail_body_rows(), 1LL);
    switch (c) {
    case KEY_DOWN: case 'j':
        detail_scroll(1);
        break;
    case KEY_UP: case 'k':
        detail_scroll(-1);
        break;
    case KEY_NPAGE: case CTRL_F: case ' ':
        detail_scroll(page);
        break;
    case KEY_PPAGE: case CTRL_B:
        detail_scroll(-page);
        break;
    case KEY_HOME:
        detail.top = 0;
        break;
    case KEY_END:
        detail.top = detail_last_top();
        break;
    case 'q': case KEY_ESCAPE: case KEY_LEFT: case 10: case 13: case KEY_ENTER:
    case KEY_BACKSPACE: case KEY_DELETE: case CTRL_H:
        // Back to the list, with the cursor on this object wherever it stands.
        detail.shown = false;
        detail.rows.clear();
        detail.rows.shrink_to_fit();
        draw_cursor_on(detail.mode, detail.host.c_str(), detail.description.c_str());
        break;
    default:
        if (c >= 32 && c <= 126)
            beep();
        break;
    }
}

void detail_draw()
{
    detail_build();
    draw_begin();
    const long long p = pad;
    const long long h = header_pad;
    draw_title_row(detail.mode == 0 ? "Host Detail" : "Service Detail");

    const long long body = detail_body_rows();
    const long long n = static_cast<long long>(detail.rows.size());
    std::string where;
    if (n > body && body > 0)
        where = "rows " + std::to_string(detail.top + 1) + "-" +
                std::to_string(std::min(detail.top + body, n)) + " of " + std::to_string(n);
    draw_text(p + 1, h, detail.mode == 0 ? detail.host : detail.description);
    if (!where.empty())
        draw_text(p + 1, draw_text_right(where), where);

    for (long long r = 0; r < body && detail.top + r < n; r++) {
        const detail_row &row = detail.rows[static_cast<size_t>(detail.top + r)];
        draw_color(row.pair);
        draw_text(detail_body_first() + r, p, row.text);
        draw_color(PAIR_BASE);
    }

    draw_text(static_cast<long long>(LINES) - p - 3, p,
              "q back  j k scroll  a ack  u unack  D downtime  c check now  n notify on/off");
    curs_set(0);
    draw_text(static_cast<long long>(LINES) - p - 1, p, "Command: ");
    wrefresh(stdscr);
}

void detail_repaint()
{
    if (detail.shown)
        detail_draw();
    else
        draw_screen();
    draw_alert();
}
