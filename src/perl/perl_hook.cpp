// Placeholder interpreter: texts pass through, every regex filter shows all.
#include "perl/perl_hook.h"

void perl_hook_init() {}
void perl_hook(int, char *) {}
int perl_regex_hook(const char *, const char *, int) { return 0; }
void perl_hook_free() {}
