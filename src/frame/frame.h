// SPDX-License-Identifier: GPL-2.0-or-later
// Program frame: command line, configuration files, endings.
#ifndef FRAME_FRAME_H
#define FRAME_FRAME_H

// Applies the command line to the view settings; exits on -h, -V and errors.
void frame_options(int argc, char **argv);

// Configuration files: empties the function-key slots, then reads the
// system file and the user's $HOME/.quelvanrc.
void read_dot_files();
void read_dot_file(const char *path);

// The terminal on endings that bypass the program's exits: the crash
// signals' actions before the hook script could set its own (call before
// perl_hook_init); the mode before curses (call before initscr) and an
// exit() from elsewhere ending curses; then the hangup, quit and crash
// signals restoring that mode (after initscr); a crash signal then meets its
// action from before the script (the default, or a sanitizer's report), so
// the status and the core dump stay.
void shutdown_save_crash_actions();
void shutdown_save_terminal();
void shutdown_install();

#endif
