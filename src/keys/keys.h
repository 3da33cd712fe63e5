// Keyboard: the key command loop and the help screen.
#ifndef KEYS_KEYS_H
#define KEYS_KEYS_H

// Reads and carries out keys until a quit key.
void getch_loop();
// Shows the help file until any key.
void help();

#endif
