// The refresh timer. SIGALRM is blocked for the whole run except while the
// key loop waits for input, so the handler can only ever interrupt that wait:
// no draw, read, hook call or terminal write is cut into.
#include <cerrno>
#include <csignal>
#include <sys/select.h>
#include <unistd.h>

#include <curses.h>

#include "frame/frame.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "status/status.h"

volatile sig_atomic_t refresh_due = 0;

static sigset_t timer_wait_mask;  // the process mask with SIGALRM let through

extern "C" void update_display(int)
{
    refresh_due = 1;
}

void timer_install()
{
    sigset_t alrm;
    sigemptyset(&alrm);
    sigaddset(&alrm, SIGALRM);
    sigprocmask(SIG_BLOCK, &alrm, &timer_wait_mask);
    sigdelset(&timer_wait_mask, SIGALRM);

    struct sigaction sa {};
    sa.sa_handler = update_display;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &sa, nullptr);
}

void timer_stop()
{
    alarm(0);
    // A tick that fired but was held back by the mask is cancelled too.
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGALRM)) {
        sigset_t alrm;
        sigemptyset(&alrm);
        sigaddset(&alrm, SIGALRM);
        int signo;
        sigwait(&alrm, &signo);
    }
    refresh_due = 0;
}

void timer_start()
{
    alarm(polling_interval > 0 ? polling_interval : 0);
}

void timer_refresh()
{
    timer_stop();
    read_status();
    need_swipe = 1;
    draw_screen();
    timer_start();
}

int timer_wait_key()
{
    for (;;) {
        // Keys that curses has already buffered come first.
        nodelay(stdscr, TRUE);
        int c = wgetch(stdscr);
        nodelay(stdscr, FALSE);
        if (c != ERR)
            return c;
        if (refresh_due) {
            timer_refresh();
            return ERR;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(STDIN_FILENO, &readable);
        int n = pselect(STDIN_FILENO + 1, &readable, nullptr, nullptr, nullptr, &timer_wait_mask);
        if (n > 0) {
            // Input is there: a blocking read returns it, or ERR at the end of input.
            c = wgetch(stdscr);
            return c;
        }
        if (n < 0 && errno != EINTR)
            return wgetch(stdscr);
    }
}
