// SPDX-License-Identifier: GPL-2.0-or-later
// Keyboard: the key command loop and the help screen.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

#include <curses.h>

#include "command/command.h"
#include "detail/detail.h"
#include "keys/keys.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"
#include "timer/timer.h"

namespace {

// How long an answer stays on the command row before the redraw.
constexpr useconds_t PAUSE_MESSAGE = 150000;
constexpr useconds_t PAUSE_LABEL = 300000;
constexpr useconds_t PAUSE_ERROR = 600000;

constexpr int CTRL_B = 2, CTRL_D = 4, CTRL_F = 6, CTRL_L = 12;

// Writes text at the start of the command row; when that row is off the
// screen the text is skipped and what follows goes to the cursor.
void keys_label(const char *text)
{
    if (wmove(stdscr, LINES - pad - 1, pad) != ERR)
        waddnstr(stdscr, text, -1);
}

// A message goes behind "Command: ", where the draw left the cursor.
void keys_message(const char *text, useconds_t pause)
{
    waddnstr(stdscr, text, -1);
    wrefresh(stdscr);
    usleep(pause);
}

// A new page starts with the cursor (once there is one) on its first item.
void keys_cursor_top()
{
    if (cursor_row > 0)
        cursor_row = 0;
}

void keys_reset_view()
{
    cur_page = 1;
    need_swipe = 1;
    keys_cursor_top();
}

// Sets a filter bit; its partner of the same pair goes off, text and all.
void keys_switch_on(int bit)
{
    int partner = 0;
    char *partner_text = nullptr;
    switch (bit) {
    case FILTER_REGEX: partner = FILTER_NOT_REGEX; partner_text = not_name_filter; break;
    case FILTER_NOT_REGEX: partner = FILTER_REGEX; partner_text = name_filter; break;
    case FILTER_AGE: partner = FILTER_OKAY_AGE; partner_text = age_okay_filter; break;
    case FILTER_OKAY_AGE: partner = FILTER_AGE; partner_text = age_filter; break;
    }
    filter_set |= bit;
    if (filter_set & partner) {
        filter_set &= ~partner;
        partner_text[0] = '\0';
    }
}

// Reads one line at the prompt into answer (at most 1023 characters: the
// line reader refuses more). The timer is off while the line is typed and
// starts a full interval afterwards. False when no line came (the input
// ended, or the terminal was resized under the prompt): nothing is changed.
bool keys_prompt(const char *prompt, char *answer)
{
    keys_label(prompt);
    wrefresh(stdscr);
    echo();
    curs_set(1);
    timer_stop();
    answer[0] = '\0';
    // The echo may run past the bottom corner of a small screen; curses
    // drops input that cannot be echoed unless the window scrolls.
    scrollok(stdscr, TRUE);
    int got = wgetnstr(stdscr, answer, TEXT_SIZE - 1);
    scrollok(stdscr, FALSE);
    timer_start();
    curs_set(0);
    noecho();
    answer[TEXT_SIZE - 1] = '\0';
    return got == OK;
}

// An empty selection (no page at all) is paged as one empty page, so that
// the pager never walks to page 0 or below there. Once there are pages,
// page 0 (left by an empty selection before a re-read) is taken as it is:
// "+" goes to page 1 from it.
int keys_page() { return num_pages < 1 ? std::max(cur_page, 1) : cur_page; }
int keys_pages() { return std::max(num_pages, 1); }

void keys_page_up()
{
    if (keys_page() < 2)
        return;
    cur_page = keys_page() - 1;
    need_swipe = 1;
    keys_cursor_top();
    keys_message("page up", PAUSE_MESSAGE);
}

void keys_page_down()
{
    if (keys_page() >= keys_pages())
        return;
    cur_page = keys_page() + 1;
    need_swipe = 1;
    keys_cursor_top();
    keys_message("page down", PAUSE_MESSAGE);
}

// Space walks down to the last page, turns, walks up to the first, turns.
void keys_space()
{
    int page = keys_page(), pages = keys_pages();
    if (page == 1 && pages == 1)
        return;
    const char *message;
    if (spacebar_direction == 0) {
        if (page < pages) {
            cur_page = page + 1;
            message = "page down";
        } else {
            cur_page = page - 1;
            spacebar_direction = 1;
            message = "page up";
        }
    } else {
        if (page >= 2) {
            cur_page = page - 1;
            message = "page up";
        } else {
            cur_page = page + 1;
            spacebar_direction = 0;
            message = "page down";
        }
    }
    need_swipe = 1;
    keys_cursor_top();
    keys_message(message, PAUSE_MESSAGE);
}

void keys_mode(int mode, int level, const char *message)
{
    int &mode_level = mode == 0 ? host_level : service_level;
    if (object_mode == mode && mode_level == level) {
        beep();
    } else {
        keys_message(message, PAUSE_MESSAGE);
        keys_reset_view();
    }
    object_mode = mode;
    mode_level = level;
}

void keys_regex(const char *prompt, char *text, int bit)
{
    char answer[TEXT_SIZE];
    if (!keys_prompt(prompt, answer))
        return;
    text_copy(text, answer);
    if (answer[0] != '\0')
        keys_switch_on(bit);
    else
        filter_set &= ~bit;
    keys_reset_view();
}

// An age answer that is none: the prompt, the answer and the complaint.
void keys_syntax_error(const char *prompt, const char *answer)
{
    beep();
    keys_label(prompt);
    waddnstr(stdscr, answer, -1);
    waddnstr(stdscr, ": syntax error!", -1);
    wclrtoeol(stdscr);  // what was typed may have been longer
    wrefresh(stdscr);
    usleep(PAUSE_ERROR);
    need_swipe = 1;
}

void keys_age(const char *prompt, char *text, int &secs, int bit)
{
    char answer[TEXT_SIZE];
    if (!keys_prompt(prompt, answer))
        return;
    if (answer[0] == '\0') {
        filter_set &= ~bit;
        return;
    }
    int age = parse_age_filter(answer, TEXT_SIZE);
    if (age == 0) {
        keys_syntax_error(prompt, answer);
        return;
    }
    secs = age;
    text_copy(text, answer);
    keys_switch_on(bit);
    keys_reset_view();
}

void keys_fkey(int slot)
{
    if (fkey_name_filters[slot][0] != '\0') {
        text_copy(name_filter, fkey_name_filters[slot]);
        keys_label("FkeyFilter: ");
        waddnstr(stdscr, name_filter, -1);
        wrefresh(stdscr);
        usleep(PAUSE_LABEL);
        keys_switch_on(FILTER_REGEX);
    } else if (fkey_not_name_filters[slot][0] != '\0') {
        text_copy(not_name_filter, fkey_not_name_filters[slot]);
        keys_label("FkeyNegativeFilter: ");
        waddnstr(stdscr, not_name_filter, -1);
        wrefresh(stdscr);
        usleep(PAUSE_LABEL);
        keys_switch_on(FILTER_NOT_REGEX);
    } else {
        keys_label("FkeyFilter: ");
        waddnstr(stdscr, "no filter defined!", -1);
        wrefresh(stdscr);
        beep();
        usleep(PAUSE_ERROR);
    }
    keys_reset_view();
}

// The cursor keys: the first one shows the cursor on the page's first item;
// then a step down or up, over the page's edge to the next or previous page.
void keys_cursor(int step)
{
    const int rows = draw_page_rows();
    if (rows == 0)
        return;
    if (cursor_row < 0 || cursor_row >= rows) {
        cursor_row = 0;
    } else if (step > 0) {
        if (cursor_row + 1 < rows) {
            cursor_row++;
        } else if (keys_page() < keys_pages()) {
            cur_page = keys_page() + 1;
            cursor_row = 0;
        }
    } else if (cursor_row > 0) {
        cursor_row--;
    } else if (keys_page() > 1) {
        // Every page before the last is full.
        cur_page = keys_page() - 1;
        cursor_row = static_cast<int>(std::max(select_page_size(LINES), 1LL) - 1);
    }
}

// Enter: the detail screen of the item under the cursor, or of the page's
// first item while no cursor shows.
void keys_detail()
{
    if (draw_page_rows() == 0) {
        beep();
        return;
    }
    if (cursor_row < 0 || cursor_row >= draw_page_rows())
        cursor_row = 0;
    detail_open(object_mode, draw_page_item(cursor_row));
}

// An answer on the command row, behind "Command: ", over what a prompt left.
void keys_answer(const std::string &text, useconds_t pause)
{
    keys_label("Command: ");
    // Cut to the row: a long path in it must not run onto the next one.
    int y, x;
    getyx(stdscr, y, x);
    (void)y;
    waddnstr(stdscr, draw_cut(text.c_str(), static_cast<long long>(COLS) - x).c_str(), -1);
    wclrtoeol(stdscr);
    wrefresh(stdscr);
    usleep(pause);
}

// The actions of the detail screen: one command to the daemon each. False
// for a key that is no action.
bool keys_action(int c)
{
    if (c != 'a' && c != 'u' && c != 'D' && c != 'c' && c != 'n')
        return false;
    if (site_count == 0 && command_file[0] == '\0') {
        beep();
        keys_answer("no command file (default command_file in quelvanrc)", PAUSE_ERROR);
        return true;
    }
    int mode, level, at = -1;
    std::string host, service;
    bool notifications;
    const bool found = detail_target(mode, host, service, level, notifications, at);
    // A site's commands go to that site: its pipe, or its Livestatus socket.
    const site *where = at >= 0 ? &sites[at] : nullptr;
    if (where && where->kind == SITE_STATUS && where->command_file[0] == '\0') {
        beep();
        keys_answer(std::string("no command file for site ") + where->name +
                        " (a fifth word of its site statement)",
                    PAUSE_ERROR);
        return true;
    }
    if (!found) {
        beep();
        keys_answer(where && where->kind != SITE_STATUS ? "no answer from its site"
                                                        : "no longer in the status file",
                    PAUSE_ERROR);
        return true;
    }
    const char *svc = mode == 0 ? nullptr : service.c_str();
    char comment[TEXT_SIZE] = "";
    long long seconds = 0;
    int action;
    std::string done;
    switch (c) {
    case 'a':
        if (level == 0) {
            beep();
            keys_answer(mode == 0 ? "the host is UP: nothing to acknowledge"
                                  : "the service is OKAY: nothing to acknowledge",
                        PAUSE_ERROR);
            return true;
        }
        if (!keys_prompt("Comment: ", comment) || comment[0] == '\0')
            return true;  // no answer: nothing is sent
        action = ACTION_ACK;
        done = "acknowledged";
        break;
    case 'u':
        action = ACTION_UNACK;
        done = "acknowledgement removed";
        break;
    case 'D': {
        char length[TEXT_SIZE];
        if (!keys_prompt("Downtime: ", length) || length[0] == '\0')
            return true;
        seconds = parse_age_filter(length, TEXT_SIZE);
        if (seconds == 0) {
            keys_syntax_error("Downtime: ", length);
            return true;
        }
        // The second prompt takes the row of the first, answer and all.
        keys_label("");
        wclrtoeol(stdscr);
        if (!keys_prompt("Comment: ", comment) || comment[0] == '\0')
            return true;
        action = ACTION_DOWNTIME;
        char until[17];
        status_change_text(static_cast<int>(time(nullptr) + seconds), until);
        done = std::string("downtime until ") + until;
        break;
    }
    case 'c':
        action = ACTION_CHECK;
        done = "check scheduled";
        break;
    default:
        action = notifications ? ACTION_NOTIFY_OFF : ACTION_NOTIFY_ON;
        done = notifications ? "notifications disabled" : "notifications enabled";
        break;
    }
    const std::string why = command_run(where, action, host.c_str(), svc, comment, seconds);
    if (!why.empty()) {
        beep();
        keys_answer(why, PAUSE_ERROR);
        return true;
    }
    keys_answer(done, PAUSE_LABEL);
    // The daemon's next file shows what the command did.
    timer_watch();
    return true;
}

}  // namespace

bool keys_execute(int c)
{
    switch (c) {
    case CTRL_B: case '-': case '<': case KEY_PPAGE:
        keys_page_up();
        break;
    case CTRL_F: case '+': case '>': case KEY_NPAGE:
        keys_page_down();
        break;
    case ' ':
        keys_space();
        break;
    case KEY_DOWN: case 'j':
        keys_cursor(1);
        break;
    case KEY_UP: case 'k':
        keys_cursor(-1);
        break;
    case 10: case 13: case KEY_ENTER:
        keys_detail();
        break;
    case '0': case KEY_HOME:
        if (keys_page() != 1) {
            keys_cursor_top();
            cur_page = 1;
            keys_message("first page", PAUSE_MESSAGE);
            need_swipe = 1;
        }
        break;
    case 'G': case KEY_END:
        if (keys_page() != keys_pages()) {
            keys_cursor_top();
            cur_page = keys_pages();
            keys_message("last page", PAUSE_MESSAGE);
            need_swipe = 1;
        }
        break;
    case CTRL_L: case 'r':
        timer_stop();
        site_read(false);
        timer_start();
        need_swipe = 1;
        break;
    case 's': case 't':
        sort_mode = sort_mode == 1 ? 0 : 1;
        need_swipe = 1;
        keys_message(sort_mode == 0 ? "sort by name" : "sort by age", PAUSE_MESSAGE);
        break;
    case 'u': keys_mode(0, 0, "up mode"); break;
    case 'd': keys_mode(0, 2, "down mode"); break;
    case 'o': keys_mode(1, 0, "okay mode"); break;
    case 'w': keys_mode(1, 1, "warning mode"); break;
    case 'c': keys_mode(1, 2, "critical mode"); break;
    case '/': case '=': case 'f': case 'g':
        keys_regex("Filter: ", name_filter, FILTER_REGEX);
        break;
    case '!': case 'F': case 'v':
        keys_regex("NegativeFilter: ", not_name_filter, FILTER_NOT_REGEX);
        break;
    case 'a':
        keys_age("AgeFilter: ", age_filter, age_filter_secs, FILTER_AGE);
        break;
    case 'A':
        keys_age(object_mode == 0 ? "UpAgeFilter: " : "OkayAgeFilter: ", age_okay_filter,
                 age_okay_filter_secs, FILTER_OKAY_AGE);
        break;
    case 'H':
        if (filter_set & FILTER_UNHANDLED) {
            filter_set &= ~FILTER_UNHANDLED;
            keys_message("handled shown", PAUSE_MESSAGE);
        } else {
            filter_set |= FILTER_UNHANDLED;
            keys_message("unhandled only", PAUSE_MESSAGE);
        }
        keys_reset_view();
        break;
    case 'x':
        if (filter_set != 0) {
            keys_message("filter deleted", PAUSE_LABEL);
            filter_set = 0;
            keys_reset_view();
        }
        break;
    case '?': case 'h':
        keys_message("help", PAUSE_MESSAGE);
        help();
        break;
    case CTRL_D: case 'q':
        keys_message("quit", PAUSE_MESSAGE);
        return true;
    default:
        if (c >= KEY_F(1) && c <= KEY_F(12))
            keys_fkey(c - KEY_F(0));
        else if (c >= 32 && c <= 126)
            beep();
        break;
    }
    return false;
}

void getch_loop()
{
    for (;;) {
        int c = timer_wait_key();
        if (c == ERR)
            return;  // the terminal is gone: leave as for a quit key
        if (detail_shown()) {
            if (!keys_action(c))
                detail_key(c);
        }
        else if (keys_execute(c))
            return;
        detail_repaint();
    }
}

void help()
{
    timer_stop();
    wclear(stdscr);
    FILE *file = file_open_regular(help_file_path);
    // Each piece starts a row of its own; rows below the screen are not
    // shown, so the rest of the file need not be read.
    char piece[TEXT_SIZE];
    for (int row = 0; row < LINES && fgets(piece, sizeof piece, file); row++)
        if (wmove(stdscr, row, 0) != ERR)
            waddnstr(stdscr, piece, -1);
    fclose(file);
    wmove(stdscr, LINES - 1, 0);
    wrefresh(stdscr);
    timer_wait_key(false);  // any key ends the help screen and is used up
    timer_start();
}
