// SPDX-License-Identifier: GPL-2.0-or-later
// The command line: options are applied in the order given, after the
// configuration files, so each overrides what came before it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "frame/frame.h"
#include "perl/perl_hook.h"
#include "quelvan.h"

// A padding as atoi reads it, held within a million rows or columns: far
// more than any screen has, and small enough that the layout's sums of
// paddings and screen sizes stay within an int.
static int options_padding(const char *text)
{
    constexpr long long limit = 1 << 20;
    long long n = strtoll(text, nullptr, 10);
    return static_cast<int>(n < -limit ? -limit : n > limit ? limit : n);
}

static void usage()
{
    puts("usage: quelvan [options]");
    puts("  -A <age>         filter UP/OKAY objects by age less than <age>");
    puts("  -a <age>         filter objects by age less than <age>");
    puts("  -b               display in black and white");
    puts("  -d               print debug info to stderr");
    puts("  -g /perl_regex/  filter host/service/plugin-output with /perl_regex/");
    puts("  -h               print (this) usage info");
    printf("  -i <integer>     set polling interval to <integer> seconds (default is %d)\n",
           polling_interval);
    puts("  -l <u|d|o|w|c>   display objects with UP/DOWN/OK/WARNING/CRITICAL status");
    puts("  -m <h|s>         display HOST objects or SERVICE objects");
    printf("  -P <integer>     set header padding to <integer> (default is %d)\n", header_pad);
    printf("  -p <integer>     set row/column padding to <integer> (default is %d)\n", pad);
    puts("  -s <n|a>         sort objects by-name or by-age");
    puts("  -V               print version and exit");
    puts("  -v /perl_regex/  negative filter host/service/plugin-output with /perl_regex/");
    // Where this build looks for its files: they are fixed when it is built.
    puts("files:");
    printf("  status file      %s\n", status_file_path);
    printf("  configuration    %s, $HOME/.quelvanrc\n", system_rc_path);
    printf("  hook script      %s\n", hook_script_path);
    printf("  help file        %s\n", help_file_path);
    // The pipe is a setting (default command_file): shown as it stands.
    printf("  command file     %s\n", command_file[0] ? command_file : "none");
    fflush(stdout);
}

[[noreturn]] static void options_usage_exit(int status)
{
    usage();
    exit(status);
}

// -g and -v: the argument in slashes; the text between them is the pattern.
static void options_regex(const char *arg, char *filter, int bit, int partner)
{
    size_t len = strlen(arg);
    if (len == 0 || arg[0] != '/' || arg[len - 1] != '/')
        fatal_stdout("syntax error: %s: not a perl regexp (use slashes!)\n", arg);
    size_t n = len >= 2 ? len - 2 : 0;
    if (n > TEXT_SIZE - 1)
        n = TEXT_SIZE - 1;
    memcpy(filter, arg + 1, n);
    filter[n] = '\0';
    filter_set = (filter_set | bit) & ~partner;
}

// -a and -A: the age text is normalised in place and must not be 0 seconds.
static void options_age(const char *arg, char *text, int *secs, const char *what, int bit,
                        int partner)
{
    text_copy(text, arg);
    *secs = parse_age_filter(text, TEXT_SIZE);
    if (*secs == 0) {
        printf("syntax error: can not parse %s \"%s\"\n", what, text);
        options_usage_exit(1);
    }
    filter_set = (filter_set | bit) & ~partner;
}

// An option value of exactly one letter from the allowed set, or 0.
static char options_letter(const char *arg, const char *allowed)
{
    if (arg[0] == '\0' || arg[1] != '\0' || !strchr(allowed, arg[0]))
        return 0;
    return arg[0];
}

void frame_options(int argc, char **argv)
{
    int c;
    while ((c = getopt(argc, argv, "A:a:bdg:hi:l:m:P:p:s:Vv:")) != -1) {
        switch (c) {
        case 'A':
            options_age(optarg, age_okay_filter, &age_okay_filter_secs, "ok_age",
                        FILTER_OKAY_AGE, FILTER_AGE);
            break;
        case 'a':
            options_age(optarg, age_filter, &age_filter_secs, "age", FILTER_AGE,
                        FILTER_OKAY_AGE);
            break;
        case 'b':
            color = 0;
            break;
        case 'd':
            debugging++;
            break;
        case 'g':
            options_regex(optarg, name_filter, FILTER_REGEX, FILTER_NOT_REGEX);
            break;
        case 'h':
            options_usage_exit(0);
        case 'i':
            polling_interval = atoi(optarg);
            break;
        case 'l':
            switch (options_letter(optarg, "udowc")) {
            case 'u': object_mode = 0; host_level = 0; break;
            case 'd': object_mode = 0; host_level = 2; break;
            case 'o': object_mode = 1; service_level = 0; break;
            case 'w': object_mode = 1; service_level = 1; break;
            case 'c': object_mode = 1; service_level = 2; break;
            default:
                printf("unknown level: \"%s\"\n", optarg);
                options_usage_exit(1);
            }
            break;
        case 'm':
            switch (options_letter(optarg, "hs")) {
            case 'h': object_mode = 0; host_level = 0; break;
            case 's': object_mode = 1; service_level = 0; break;
            default:
                printf("unknown mode: \"%s\"\n", optarg);
                options_usage_exit(1);
            }
            break;
        case 'P':
            header_pad = options_padding(optarg);
            break;
        case 'p':
            pad = options_padding(optarg);
            break;
        case 's':
            switch (options_letter(optarg, "na")) {
            case 'n': sort_mode = 0; break;
            case 'a': sort_mode = 1; break;
            default:
                printf("unknown sort type: \"%s\"\n", optarg);
                options_usage_exit(1);
            }
            break;
        case 'V':
            printf("Quelvan-%s\n", VERSION);
            fflush(stdout);
            exit(0);
        case 'v':
            options_regex(optarg, not_name_filter, FILTER_NOT_REGEX, FILTER_REGEX);
            break;
        default:  // getopt has already said what was wrong
            options_usage_exit(1);
        }
    }
    if (optind < argc)
        options_usage_exit(1);
}
