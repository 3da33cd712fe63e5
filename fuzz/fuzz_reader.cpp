// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "perl/perl_hook.h"
#include "quelvan.h"

namespace {

// Hooks that change the texts (longer and shorter), so the cut of a hook's
// result to the original length is exercised on every item.
const char hook_script[] = R"PERL(
sub host_plugin_hook { my $t = shift; $t =~ s/o/oo/g; return $t; }
sub service_plugin_hook { my $t = shift; $t =~ s/e//g; return $t; }
sub regex_hook { return 0; }
1;
)PERL";

constexpr size_t TEXT_MAX = TEXT_SIZE - 1;

[[noreturn]] void fuzz_fail(const char *what, int i)
{
    fprintf(stderr, "fuzz: %s, item %d\n", what, i);
    abort();
}

void fuzz_reader_text(const char *text, size_t max, const char *what, int i)
{
    if (!text)
        fuzz_fail(what, i);
    if (!fuzz_reader_text_ok(text, max)) {
        fprintf(stderr, "fuzz: \"%.80s\"...: %zu characters\n", text, strlen(text));
        fuzz_fail(what, i);
    }
}

}  // namespace

void fuzz_reader_setup()
{
    setenv("TZ", "UTC", 1);
    tzset();
    if (mkdir("etc", 0755) != 0 && access("etc", F_OK) != 0)
        abort();
    FILE *f = fopen("etc/quelvan.pl", "w");
    if (!f || fwrite(hook_script, 1, sizeof hook_script - 1, f) != sizeof hook_script - 1)
        abort();
    fclose(f);
    // The fatal messages are the program's; the fuzzer reports on stderr.
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0)
        abort();
    close(null);
    debugging = 0;
    color = 0;
    perl_hook_init();
}

bool fuzz_reader_text_ok(const char *text, size_t max)
{
    return text && strnlen(text, max + 1) <= max;
}

// Every entry below a table's size whole, its texts within their bounds.
void fuzz_reader_check()
{
    if (host_list_size < 0 || host_list_size > MAX_ITEMS || service_list_size < 0 ||
        service_list_size > MAX_ITEMS)
        abort();
    if (num_up + num_down > host_list_size ||
        num_okay + num_warn + num_crit > service_list_size)
        abort();
    for (int i = 0; i < host_list_size; i++) {
        const item &it = host_list[i];
        fuzz_reader_text(it.host_name, TEXT_MAX, "host name", i);
        fuzz_reader_text(it.plugin_output, TEXT_MAX, "host output", i);
        fuzz_reader_text(it.last_change, TEXT_MAX, "host last change", i);
        fuzz_reader_text(it.duration, TEXT_MAX, "host duration", i);
        if (it.current_state)
            fuzz_reader_text(it.current_state, TEXT_MAX, "host state", i);
        if (host_idx_to_level[i] < 0 || host_idx_to_level[i] > 2 || host_idx_to_marks[i] > 7)
            fuzz_fail("host level or marks", i);
    }
    for (int i = 0; i < service_list_size; i++) {
        const item &it = service_list[i];
        fuzz_reader_text(it.host_name, TEXT_MAX, "service host name", i);
        // "host description": two texts of a line each and the blank.
        fuzz_reader_text(it.service_description, 2 * TEXT_MAX + 1, "service description", i);
        fuzz_reader_text(it.plugin_output, TEXT_MAX, "service output", i);
        fuzz_reader_text(it.last_change, 16, "service last change", i);
        if (strlen(it.last_change) != 16)
            fuzz_fail("service last change of other than 16 characters", i);
        fuzz_reader_text(it.duration, TEXT_MAX, "service duration", i);
        if (it.current_state)
            fuzz_reader_text(it.current_state, TEXT_MAX, "service state", i);
        if (service_idx_to_level[i] < 0 || service_idx_to_level[i] > 2 ||
            service_idx_to_marks[i] > 7)
            fuzz_fail("service level or marks", i);
    }
}

void fuzz_reader_check_order()
{
    int n = 0;
    for (age_node *a = hosts_by_age; a; a = a->next, n++)
        if (a->idx < 0 || a->idx >= host_list_size || (a->next && a->next->age > a->age))
            abort();
    if (n != host_list_size)
        abort();
    n = 0;
    for (age_node *a = services_by_age; a; a = a->next, n++)
        if (a->idx < 0 || a->idx >= service_list_size || (a->next && a->next->age > a->age))
            abort();
    if (n != service_list_size)
        abort();
}

