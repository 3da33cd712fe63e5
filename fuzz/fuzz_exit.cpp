// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz_exit.h"

#include <cstdlib>

std::jmp_buf fuzz_exit_jump;
bool fuzz_exit_armed = false;
int fuzz_exit_status = 0;

extern "C" [[noreturn]] void __real_exit(int status);

extern "C" [[noreturn]] void __wrap_exit(int status)
{
    if (!fuzz_exit_armed)
        __real_exit(status);
    fuzz_exit_armed = false;
    fuzz_exit_status = status;
    std::longjmp(fuzz_exit_jump, 1);
}
