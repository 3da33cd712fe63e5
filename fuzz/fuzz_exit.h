// SPDX-License-Identifier: GPL-2.0-or-later
// The program's fatal errors end in exit(); a fuzz target catches them here.
#ifndef FUZZ_FUZZ_EXIT_H
#define FUZZ_FUZZ_EXIT_H

#include <csetjmp>

extern std::jmp_buf fuzz_exit_jump;  // where a wrapped exit() returns to
extern bool fuzz_exit_armed;         // exit() only returns while armed
extern int fuzz_exit_status;         // the status it was called with

#endif
