// SPDX-License-Identifier: GPL-2.0-or-later
// Configuration files of any bytes: every statement is taken or refused
// with its message, and every settings text stays terminated in its buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "frame/frame.h"
#include "quelvan.h"

namespace {

void fuzz_check_text(const char *text)
{
    if (strnlen(text, TEXT_SIZE) >= TEXT_SIZE)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The syntax error messages go to standard output; the fuzzer reports on stderr.
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0)
        abort();
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fopen("quelvanrc", "w");
    if (!f)
        abort();
    if (size > 0 && fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);

    settings_reset();
    read_dot_file("quelvanrc");

    const char *texts[] = {name_filter, not_name_filter, age_filter, age_okay_filter, site_name};
    for (const char *text : texts)
        fuzz_check_text(text);
    for (int i = 0; i < NUM_FKEYS; i++) {
        fuzz_check_text(fkey_name_filters[i]);
        fuzz_check_text(fkey_not_name_filters[i]);
    }
    if (object_mode < 0 || object_mode > 1 || sort_mode < 0 || sort_mode > 1)
        abort();
    return 0;
}
