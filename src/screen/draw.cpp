// Placeholder draw: the command prompt alone.
#include <curses.h>

#include "quelvan.h"
#include "screen/screen.h"

void draw_screen()
{
    wclear(stdscr);
    curs_set(0);
    if (wmove(stdscr, LINES - pad - 1, pad) != ERR)
        waddnstr(stdscr, "Command: ", -1);
    wrefresh(stdscr);
}
