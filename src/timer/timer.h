// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh timer and the one wait for a key: below the key loop and the
// program frame, which both use it, above the status reader and the screens.
#ifndef TIMER_TIMER_H
#define TIMER_TIMER_H

#include <csignal>

// The refresh timer. SIGALRM only marks a refresh as due; the key loop's
// wait carries it out, so a refresh never runs inside a draw, a read or a
// hook call. SIGALRM stays blocked everywhere but in that wait.
extern volatile sig_atomic_t refresh_due;
// SIGALRM's handler: it only sets refresh_due.
extern "C" void update_display(int signo);
void timer_install();
// Stops the countdown (and drops a tick not yet handled); starts a full one.
void timer_stop();
void timer_start();
// The one wait for a key: carries out every refresh that falls due while it
// waits (that refresh draws once; it is not a key) and returns the next key,
// or ERR once the input has ended (the terminal is gone). Without draw (a
// screen of its own is up, the help) nothing is drawn and nothing refreshed:
// the sites' replies are still taken in, to be drawn after the key.
int timer_wait_key(bool draw = true);
// After a command to the daemon: for the next 30 seconds the wait looks at
// the status file every second and reads each new file the daemon writes as
// soon as it is there (the first may have been written before the daemon
// took the command in).
void timer_watch();

#endif
