// SPDX-License-Identifier: GPL-2.0-or-later
// The view settings with their start values.
#include "quelvan.h"

const char *const VERSION = QUELVAN_VERSION;  // from the build

int object_mode = 1;
int host_level = 0;
int service_level = 0;
int sort_mode = 0;
int filter_set = 0;
char name_filter[TEXT_SIZE];
char not_name_filter[TEXT_SIZE];
char age_filter[TEXT_SIZE];
int age_filter_secs = 0;
char age_okay_filter[TEXT_SIZE];
int age_okay_filter_secs = 0;
char fkey_name_filters[NUM_FKEYS][TEXT_SIZE];
char fkey_not_name_filters[NUM_FKEYS][TEXT_SIZE];
char site_name[TEXT_SIZE];
int pad = 1;
int header_pad = 2;
int polling_interval = 90;
int color = 1;
int debugging = 0;
int cur_page = 1;
int num_pages = 0;
int need_swipe = 0;
int spacebar_direction = 0;
int alert_mode = 0;
int cursor_row = -1;
char command_file[TEXT_SIZE] = QUELVAN_COMMAND_FILE;  // from the build
int ack_sticky = 1;
int ack_notify = 1;
site sites[MAX_SITES];
int site_count = 0;
int site_timeout_secs = 10;

// The same start values as above, for a process that runs the option or
// configuration code more than once (tests, fuzz targets, benchmarks).
void settings_reset()
{
    object_mode = 1;
    host_level = service_level = sort_mode = filter_set = 0;
    name_filter[0] = not_name_filter[0] = age_filter[0] = age_okay_filter[0] = '\0';
    age_filter_secs = age_okay_filter_secs = 0;
    for (int i = 0; i < NUM_FKEYS; i++)
        fkey_name_filters[i][0] = fkey_not_name_filters[i][0] = '\0';
    site_name[0] = '\0';
    pad = 1;
    header_pad = 2;
    polling_interval = 90;
    color = 1;
    debugging = 0;
    cur_page = 1;
    num_pages = 0;
    need_swipe = 0;
    spacebar_direction = 0;
    alert_mode = 0;
    cursor_row = -1;
    text_copy(command_file, QUELVAN_COMMAND_FILE);
    ack_sticky = ack_notify = 1;
    site_count = 0;
    site_timeout_secs = 10;
}
