// SPDX-License-Identifier: GPL-2.0-or-later
// Whole status files of any bytes, read twice each so that the release of one
// snapshot and the next read are covered too. Fatal errors return here
// through the wrapped exit().
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_exit.h"
#include "fuzz_reader.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

// How many descriptors of the process hold the status file open.
int fuzz_status_open()
{
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        abort();
    int open = 0;
    while (dirent *e = readdir(d)) {
        char path[64], target[4096];
        snprintf(path, sizeof path, "/proc/self/fd/%s", e->d_name);
        ssize_t n = readlink(path, target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        size_t len = static_cast<size_t>(n);
        if (len >= 11 && strcmp(target + len - 11, "/status.dat") == 0)
            open++;
    }
    closedir(d);
    return open;
}

void fuzz_write(const char *path, const uint8_t *data, size_t size)
{
    FILE *f = fopen(path, "w");
    if (!f)
        abort();
    if (size > 0 && fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_reader_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_write("status.dat", data, size);
    for (int round = 0; round < 2; round++) {
        if (setjmp(fuzz_exit_jump) == 0) {
            fuzz_exit_armed = true;
            status_refresh();
            fuzz_exit_armed = false;
            fuzz_reader_check();
            fuzz_reader_check_order();
            // A finished read keeps its own file open, the snapshot's, and
            // no other.
            if (fuzz_status_open() != 1 || status_snapshot_fd() < 0)
                abort();
        } else if (fuzz_exit_status != 1) {
            abort();  // every fatal error ends with status 1
        }
        // Nothing of an earlier read stays open beside it.
        if (fuzz_status_open() > 1)
            abort();
    }
    return 0;
}
