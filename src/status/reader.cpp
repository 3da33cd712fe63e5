// Placeholder refresh: the snapshot stays empty.
#include "quelvan.h"
#include "status/status.h"

int line = 0;

void read_v23_status() {}
void read_status() {}
char *calc_duration(int) { return nullptr; }
