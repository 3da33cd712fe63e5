// SPDX-License-Identifier: GPL-2.0-or-later
// Perl extension and filters: the embedded interpreter, its text hooks, the
// regular-expression hook and the age filter syntax.
#ifndef PERL_PERL_HOOK_H
#define PERL_PERL_HOOK_H

constexpr int HOOK_HOST = 0;     // host_plugin_hook
constexpr int HOOK_SERVICE = 1;  // service_plugin_hook

// Starts the interpreter with the hook script and makes the test call.
void perl_hook_init();
// Rewrites text in place with the script's result, never making it longer.
void perl_hook(int kind, char *text);
// mode 0: non-zero when text does not match pattern; mode 1: when it does.
int perl_regex_hook(const char *text, const char *pattern, int mode);
void perl_hook_free();

// Reads an age such as "5m", "2 hrs", "1d" or "90"; rewrites text into its
// normal form (at most size bytes) and returns seconds, 0 for no age.
int parse_age_filter(char *text, int size);

#endif
