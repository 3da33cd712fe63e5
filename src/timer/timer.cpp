// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh timer. SIGALRM is blocked for the whole run except while the
// key loop waits for input, so the handler can only ever interrupt that wait:
// no draw, read, hook call or terminal write is cut into.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <curses.h>

#include "detail/detail.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "site/site.h"
#include "status/status.h"
#include "timer/timer.h"

volatile sig_atomic_t refresh_due = 0;

namespace {

sigset_t timer_wait_mask;  // the process mask with SIGALRM let through

// A terminal that is gone reads as "readable" with nothing to read, again and
// again; a few such reads in a row mean the input has ended.
constexpr int TIMER_DEAD_READS = 3;

// How long a command's effect is awaited in the daemon's next status file.
constexpr time_t TIMER_WATCH_SECONDS = 30;

sigset_t timer_alarm_set()
{
    sigset_t alrm;
    sigemptyset(&alrm);
    sigaddset(&alrm, SIGALRM);
    return alrm;
}

}  // namespace

// The handler keeps the name of the timer's refresh, but only marks it as
// due: timer_wait_key carries it out outside the signal handler.
extern "C" void update_display(int)
{
    refresh_due = 1;
}

void timer_install()
{
    sigset_t alrm = timer_alarm_set();
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
    // A tick that fired but was held back by the mask is dropped too.
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGALRM)) {
        sigset_t alrm = timer_alarm_set();
        const struct timespec now {};
        sigtimedwait(&alrm, nullptr, &now);
    }
    refresh_due = 0;
}

void timer_start()
{
    alarm(polling_interval > 0 ? static_cast<unsigned>(polling_interval) : 0);
}

// Carries out a due refresh: read, swipe, draw, re-arm.
static void timer_refresh()
{
    timer_stop();
    site_read(false);
    need_swipe = 1;
    detail_repaint();
    timer_start();
}

namespace {

// After a command to the daemon: until when its next status file is watched for.
time_t timer_watch_until = 0;

// Whether the daemon has put a new status file in place of the snapshot's.
bool timer_newer_file()
{
    if (site_count > 0)
        return site_newer_file();
    struct stat now_file, snapshot;
    const int fd = status_snapshot_fd();
    if (fd < 0 || stat(status_file_path, &now_file) != 0 || fstat(fd, &snapshot) != 0)
        return false;
    return now_file.st_ino != snapshot.st_ino || now_file.st_dev != snapshot.st_dev ||
           now_file.st_mtim.tv_sec != snapshot.st_mtim.tv_sec ||
           now_file.st_mtim.tv_nsec != snapshot.st_mtim.tv_nsec;
}

}  // namespace

void timer_watch()
{
    timer_watch_until = time(nullptr) + TIMER_WATCH_SECONDS;
}

int timer_wait_key(bool draw)
{
    int dead_reads = 0;
    for (;;) {
        // Keys that curses has already taken in (a KEY_RESIZE among them)
        // come before a refresh and before any wait.
        nodelay(stdscr, TRUE);
        int c = wgetch(stdscr);
        nodelay(stdscr, FALSE);
        if (c != ERR)
            return c;
        if (draw && timer_watch_until != 0) {
            if (time(nullptr) > timer_watch_until) {
                timer_watch_until = 0;
            } else if (timer_newer_file()) {
                timer_refresh();
                continue;
            }
        }
        if (draw && refresh_due) {
            // Not a key: the refresh draws once and the wait goes on.
            timer_refresh();
            continue;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(STDIN_FILENO, &readable);
        // A site's reply wakes the wait, as does a read's time limit.
        const int wake = site_wake_fd();
        if (wake >= 0)
            FD_SET(wake, &readable);
        // While a new file is awaited, the wait looks at it every second.
        int64_t wait_ms = timer_watch_until != 0 ? 1000 : -1;
        const int64_t site_ms = site_wait_ms();
        if (site_ms >= 0 && (wait_ms < 0 || site_ms < wait_ms))
            wait_ms = site_ms;
        const struct timespec limit {static_cast<time_t>(wait_ms / 1000),
                                     static_cast<long>(wait_ms % 1000) * 1000000};
        int n = pselect(std::max(STDIN_FILENO, wake) + 1, &readable, nullptr, nullptr,
                        wait_ms >= 0 ? &limit : nullptr, &timer_wait_mask);
        if (n >= 0 && (wake >= 0 && (n == 0 || FD_ISSET(wake, &readable)))) {
            if (site_collect() && draw)
                detail_repaint();
            if (n == 0 || !FD_ISSET(STDIN_FILENO, &readable))
                continue;
        }
        if (n == 0 && wait_ms >= 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;  // the tick (or a resize) is seen at the top
        if (n > 0) {
            // Input is there: the blocking read completes an escape sequence.
            c = wgetch(stdscr);
            if (c != ERR)
                return c;
        }
        if (++dead_reads >= TIMER_DEAD_READS)
            return ERR;
    }
}
