// SPDX-License-Identifier: GPL-2.0-or-later
// The reader's progress on the command row. A shared helper below the
// reader and the screen, so that the reader shows its progress while it
// reads without calling up into the screen. Both run from the refresh,
// which also runs without a screen (the fuzz targets and the reader's tests).
#include <curses.h>

#include "quelvan.h"

void progress_begin()
{
    if (curses_active && stdscr) {
        if (wmove(stdscr, LINES - pad - 1, pad) != ERR)
            waddnstr(stdscr, "reading status.dat...", -1);
        wrefresh(stdscr);
    }
}

void progress_end()
{
    if (curses_active && stdscr) {
        waddnstr(stdscr, "done", -1);
        if (color != 0)
            wattr_on(stdscr, COLOR_PAIR(PAIR_BASE), nullptr);
        wrefresh(stdscr);
    }
}
