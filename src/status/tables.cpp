// The object tables of the last read.
#include <cstring>

#include "quelvan.h"
#include "status/status.h"

item host_list[MAX_ITEMS];
item service_list[MAX_ITEMS];
int host_list_size = 0;
int service_list_size = 0;
int host_idx_to_level[MAX_ITEMS];
int service_idx_to_level[MAX_ITEMS];
int num_up = 0, num_down = 0;
int num_okay = 0, num_warn = 0, num_crit = 0;
char last_update[21];
int last_update_int = 0;
age_node *hosts_by_age = nullptr;
age_node *services_by_age = nullptr;

int convert_level(const char *text)
{
    if (!text)
        return 1;
    if (strcmp(text, "UP") == 0 || strcmp(text, "OKAY") == 0)
        return 0;
    if (strcmp(text, "DOWN") == 0 || strcmp(text, "CRITICAL") == 0)
        return 2;
    return 1;
}
