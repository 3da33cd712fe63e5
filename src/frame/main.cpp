// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up and shutdown.
#include <clocale>
#include <unistd.h>

#include <curses.h>

#include "frame/frame.h"
#include "keys/keys.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"
#include "timer/timer.h"

int main(int argc, char **argv)
{
    read_dot_files();
    frame_options(argc, argv);
    shutdown_save_crash_actions();
    perl_hook_init();

    // Names and outputs carry UTF-8; the wide curses build needs the
    // character type of the user's locale to show and measure them.
    setlocale(LC_CTYPE, "");
    shutdown_save_terminal();
    initscr();
    curses_active = true;
    shutdown_install();
    keypad(stdscr, TRUE);
    cbreak();
    noecho();
    wclear(stdscr);
    wrefresh(stdscr);
    if (color != 0)
        draw_start_colors();

    debug("Quelvan version %s", VERSION);
    debug("polling interval is %d seconds", polling_interval);
    debug("pad is %d, header_pad is %d", pad, header_pad);
    debug("%s", "");

    timer_install();
    site_read(true);
    draw_screen();
    timer_start();
    getch_loop();

    timer_stop();  // no refresh after the screen is gone
    endwin();
    curses_active = false;
    perl_hook_free();
    return 0;
}
