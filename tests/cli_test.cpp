// SPDX-License-Identifier: GPL-2.0-or-later
// The command line: settings it leaves, texts it prints, statuses it ends with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame.h"
#include "harness.h"
#include "quelvan.h"

namespace {

// Applies options in-process, from start values.
void apply(const std::vector<std::string> &args)
{
    settings_reset();
    apply_options(args);
}

std::string usage_text(int interval = 90, int header = 2, int padding = 1)
{
    return "usage: quelvan [options]\n"
           "  -A <age>         filter UP/OKAY objects by age less than <age>\n"
           "  -a <age>         filter objects by age less than <age>\n"
           "  -b               display in black and white\n"
           "  -d               print debug info to stderr\n"
           "  -g /perl_regex/  filter host/service/plugin-output with /perl_regex/\n"
           "  -h               print (this) usage info\n"
           "  -i <integer>     set polling interval to <integer> seconds (default is " +
           std::to_string(interval) + ")\n" +
           "  -l <u|d|o|w|c>   display objects with UP/DOWN/OK/WARNING/CRITICAL status\n"
           "  -m <h|s>         display HOST objects or SERVICE objects\n"
           "  -P <integer>     set header padding to <integer> (default is " +
           std::to_string(header) + ")\n" +
           "  -p <integer>     set row/column padding to <integer> (default is " +
           std::to_string(padding) + ")\n" +
           "  -s <n|a>         sort objects by-name or by-age\n"
           "  -V               print version and exit\n"
           "  -v /perl_regex/  negative filter host/service/plugin-output with /perl_regex/\n"
           "files:\n"
           "  status file      " + std::string(status_file_path) + "\n" +
           "  configuration    " + system_rc_path + ", $HOME/.quelvanrc\n" +
           "  hook script      " + hook_script_path + "\n" +
           "  help file        " + help_file_path + "\n" +
           "  command file     " + (command_file[0] ? command_file : "none") + "\n";
}

TEST(CommandLine, StartValuesWithoutOptions)
{
    apply({});
    EXPECT_EQ(object_mode, 1);
    EXPECT_EQ(service_level, 0);
    EXPECT_EQ(host_level, 0);
    EXPECT_EQ(sort_mode, 0);
    EXPECT_EQ(filter_set, 0);
    EXPECT_EQ(pad, 1);
    EXPECT_EQ(header_pad, 2);
    EXPECT_EQ(color, 1);
    EXPECT_EQ(polling_interval, 90);
    EXPECT_EQ(cur_page, 1);
}

TEST(CommandLine, ModeAndLevelInOrder)
{
    struct {
        std::vector<std::string> args;
        int mode, hlevel, slevel;
    } cases[] = {
        {{"-l", "d", "-m", "h"}, 0, 0, 0},  // -m resets the level of its mode
        {{"-m", "h", "-l", "d"}, 0, 2, 0},
        {{"-l", "u"}, 0, 0, 0},
        {{"-l", "o"}, 1, 0, 0},
        {{"-l", "w"}, 1, 0, 1},
        {{"-l", "c"}, 1, 0, 2},
        {{"-l", "c", "-l", "d"}, 0, 2, 2},  // the other kind's level stays
        {{"-l", "w", "-m", "s"}, 1, 0, 0},
        {{"-ld"}, 0, 2, 0},
    };
    for (const auto &c : cases) {
        apply(c.args);
        std::string what = testing::PrintToString(c.args);
        EXPECT_EQ(object_mode, c.mode) << what;
        EXPECT_EQ(host_level, c.hlevel) << what;
        EXPECT_EQ(service_level, c.slevel) << what;
    }
}

TEST(CommandLine, NumbersSortAndColour)
{
    apply({"-i", "30", "-P", " 5x", "-p", "-3", "-s", "a", "-b", "-d"});
    EXPECT_EQ(polling_interval, 30);
    EXPECT_EQ(header_pad, 5);
    EXPECT_EQ(pad, -3);
    EXPECT_EQ(sort_mode, 1);
    EXPECT_EQ(color, 0);
    EXPECT_EQ(debugging, 1);
    apply({"-i", "soon", "-s", "a", "-s", "n", "-d", "-d"});
    EXPECT_EQ(polling_interval, 0);
    EXPECT_EQ(sort_mode, 0);
    EXPECT_EQ(debugging, 2);
}

TEST(CommandLine, RegexFiltersExcludeEachOther)
{
    apply({"-g", "/a/", "-v", "/b/"});
    EXPECT_EQ(filter_set, FILTER_NOT_REGEX);
    EXPECT_STREQ(not_name_filter, "b");
    apply({"-v", "/b/", "-g", "/a/"});
    EXPECT_EQ(filter_set, FILTER_REGEX);
    EXPECT_STREQ(name_filter, "a");
    apply({"-g", "/"});
    EXPECT_EQ(filter_set, FILTER_REGEX);
    EXPECT_STREQ(name_filter, "");
    apply({"-g", "//"});
    EXPECT_STREQ(name_filter, "");
    apply({"-g", "/web|db/", "-a", "5m"});
    EXPECT_EQ(filter_set, FILTER_REGEX | FILTER_AGE);
    EXPECT_STREQ(name_filter, "web|db");

    std::string longest = "/" + std::string(2000, 'x') + "/";
    apply({"-v", longest});
    EXPECT_EQ(std::string(not_name_filter), std::string(1023, 'x'));
}

TEST(CommandLine, AgeFiltersExcludeEachOther)
{
    apply({"-a", "1h", "-A", "2h"});
    EXPECT_EQ(filter_set, FILTER_OKAY_AGE);
    EXPECT_EQ(age_okay_filter_secs, 7200);
    EXPECT_STREQ(age_okay_filter, "2hr");
    apply({"-A", "2h", "-a", "5 mins", "-v", "/x/"});
    EXPECT_EQ(filter_set, FILTER_AGE | FILTER_NOT_REGEX);
    EXPECT_EQ(age_filter_secs, 300);
    EXPECT_STREQ(age_filter, "5m");
}

struct exit_case {
    std::vector<std::string> args;
    int status;
    std::string out;  // exact standard output
    bool err_empty;
};

TEST(CommandLine, OutputsAndExitStatuses)
{
    const std::string dir = test_dir();
    const exit_case cases[] = {
        {{"-h"}, 0, usage_text(), true},
        {{"-i", "30", "-h"}, 0, usage_text(30), true},
        {{"-h", "-i", "30"}, 0, usage_text(90), true},
        {{"-P", "4", "-p", "0", "-h"}, 0, usage_text(90, 4, 0), true},
        {{"-V"}, 0, "Quelvan-" QUELVAN_VERSION "\n", true},
        {{"-V", "-x"}, 0, "Quelvan-" QUELVAN_VERSION "\n", true},
        {{"-x", "-V"}, 1, usage_text(), false},
        {{"-i"}, 1, usage_text(), false},
        {{"extra"}, 1, usage_text(), true},
        {{"-b", "extra"}, 1, usage_text(), true},
        {{"-l", "uu"}, 1, "unknown level: \"uu\"\n" + usage_text(), true},
        {{"-l", "x"}, 1, "unknown level: \"x\"\n" + usage_text(), true},
        {{"-l", ""}, 1, "unknown level: \"\"\n" + usage_text(), true},
        {{"-m", "host"}, 1, "unknown mode: \"host\"\n" + usage_text(), true},
        {{"-s", "name"}, 1, "unknown sort type: \"name\"\n" + usage_text(), true},
        {{"-a", "0"}, 1, "syntax error: can not parse age \"0s\"\n" + usage_text(), true},
        {{"-a", "soon"}, 1, "syntax error: can not parse age \"soon\"\n" + usage_text(), true},
        {{"-A", "0m"}, 1, "syntax error: can not parse ok_age \"0m\"\n" + usage_text(), true},
        {{"-A", "5 weeks"}, 1, "syntax error: can not parse ok_age \"5 weeks\"\n" + usage_text(),
         true},
        {{"-g", "web"}, 1, "syntax error: web: not a perl regexp (use slashes!)\n", true},
        {{"-g", "/web"}, 1, "syntax error: /web: not a perl regexp (use slashes!)\n", true},
        {{"-v", "web/"}, 1, "syntax error: web/: not a perl regexp (use slashes!)\n", true},
        {{"-v", ""}, 1, "syntax error: : not a perl regexp (use slashes!)\n", true},
    };
    for (const exit_case &c : cases) {
        run_result r = run_quelvan(dir, c.args);
        std::string what = testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.out, c.out) << what;
        if (c.err_empty)
            EXPECT_EQ(r.err, "") << what;
        else
            EXPECT_NE(r.err.find("quelvan"), std::string::npos) << what << ": " << r.err;
    }
}

}  // namespace
