// SPDX-License-Identifier: GPL-2.0-or-later
// Pieces of the sites shared by their own files: the wake-up of the main
// thread's wait, and the detail screen's answers taken in with the reads'.
#ifndef SITE_SITE_PRIVATE_H
#define SITE_SITE_PRIVATE_H

// Makes site_wake_fd readable (from any thread).
void site_wake();
// Takes in the answer of the detail screen's ask when it has come; true
// then (the screen wants a redraw).
bool site_record_take();

#endif
