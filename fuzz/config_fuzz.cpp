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

// The settings a configuration file can change, as they were at start.
struct fuzz_settings {
    int object_mode, host_level, service_level, sort_mode, filter_set;
    int age_filter_secs, age_okay_filter_secs, pad, header_pad, polling_interval, color;
    int debugging, spacebar_direction;
};

fuzz_settings fuzz_save()
{
    return {object_mode,     host_level, service_level,    sort_mode,
            filter_set,      age_filter_secs, age_okay_filter_secs, pad,
            header_pad,      polling_interval, color,       debugging,
            spacebar_direction};
}

const fuzz_settings fuzz_start = fuzz_save();

void fuzz_restore()
{
    object_mode = fuzz_start.object_mode;
    host_level = fuzz_start.host_level;
    service_level = fuzz_start.service_level;
    sort_mode = fuzz_start.sort_mode;
    filter_set = fuzz_start.filter_set;
    age_filter_secs = fuzz_start.age_filter_secs;
    age_okay_filter_secs = fuzz_start.age_okay_filter_secs;
    pad = fuzz_start.pad;
    header_pad = fuzz_start.header_pad;
    polling_interval = fuzz_start.polling_interval;
    color = fuzz_start.color;
    debugging = fuzz_start.debugging;
    spacebar_direction = fuzz_start.spacebar_direction;
    name_filter[0] = not_name_filter[0] = age_filter[0] = age_okay_filter[0] = '\0';
    site_name[0] = '\0';
    for (int i = 0; i < NUM_FKEYS; i++)
        fkey_name_filters[i][0] = fkey_not_name_filters[i][0] = '\0';
}

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

    fuzz_restore();
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
