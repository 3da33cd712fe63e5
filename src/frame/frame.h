// SPDX-License-Identifier: GPL-2.0-or-later
// Program frame: command line, configuration files, refresh timer.
#ifndef FRAME_FRAME_H
#define FRAME_FRAME_H

#include <csignal>

// Applies the command line to the view settings; exits on -h, -V and errors.
void frame_options(int argc, char **argv);

// Configuration files: empties the function-key slots, then reads the
// system file and the user's $HOME/.quelvanrc.
void read_dot_files();
void read_dot_file(const char *path);

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
// or ERR once the input has ended (the terminal is gone).
int timer_wait_key();
// After a command to the daemon: for the next 30 seconds the wait looks at
// the status file every second and reads it as soon as the daemon has
// written a new one.
void timer_watch();

// The terminal on endings that bypass the program's exits: the mode before
// curses (call before initscr) and an exit() from elsewhere ending curses;
// then the hangup, quit and crash signals restoring that mode (after
// initscr); a crash signal then meets its former action (the default, or a
// sanitizer's report), so the status and the core dump stay.
void shutdown_save_terminal();
void shutdown_install();

#endif
