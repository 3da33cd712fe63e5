// The view settings with their start values, and the files' fixed places.
#include "quelvan.h"

const char *const VERSION = "0.32";

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
