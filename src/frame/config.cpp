// Placeholder configuration: the function-key slots are emptied, no file is read.
#include "frame/frame.h"
#include "quelvan.h"

void read_dot_files()
{
    for (int i = 0; i < NUM_FKEYS; i++)
        fkey_name_filters[i][0] = fkey_not_name_filters[i][0] = '\0';
}

void read_dot_file(const char *) {}
