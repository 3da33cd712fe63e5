// Placeholder key loop: "q" and Ctrl-D quit, other keys redraw.
#include <curses.h>

#include "frame/frame.h"
#include "keys/keys.h"
#include "quelvan.h"
#include "screen/screen.h"

void getch_loop()
{
    for (;;) {
        int c = timer_wait_key();
        if (c == 'q' || c == 4)
            return;
        if (c != ERR)
            draw_screen();
    }
}

void help() {}
