// SPDX-License-Identifier: GPL-2.0-or-later
// Keyboard: the key command loop and the help screen.
#ifndef KEYS_KEYS_H
#define KEYS_KEYS_H

// Reads and carries out keys until a quit key (or the end of the input).
void getch_loop();
// Carries out the command of one key code, without the redraw that follows
// it; true for the quit keys.
bool keys_execute(int c);
// Shows the help file until any key.
void help();

#endif
