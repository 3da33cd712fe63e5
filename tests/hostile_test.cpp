// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile input through the real binary: bytes of every kind in every text
// of the status file and of the configuration files, huge lines, huge and
// negative numbers, files that are not files, odd HOME values. The program
// either goes on and quits normally or ends with its message; the terminal
// is always given back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <getopt.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "frame/frame.h"
#include "guarded_tty.h"
#include "harness.h"
#include "quelvan.h"

namespace {

const long CREATED = 1700000000;

// Waits until the debug log shows reads finished reads times.
bool wait_reads(const tty &t, int reads, int timeout_ms = WAIT_MS)
{
    return tty_wait_stderr(t, "done with read_status()", reads, timeout_ms);
}

// Runs the binary on dir with a one-second timer and the debug log, lets
// two refreshes pass, types some keys and quits: status 0, terminal given
// back.
void expect_runs_and_quits(const std::string &dir, std::vector<std::string> args = {},
                           int cols = 80, int rows = 24)
{
    args.insert(args.end(), {"-i", "1", "-d"});
    tty t = guarded_start(dir, args, cols, rows);
    EXPECT_TRUE(wait_reads(t, 2)) << tty_screen(t) << tty_stderr(t).substr(0, 2000);
    tty_type(t, " bbj");
    tty_keys(t, {"NPage", "PPage"});
    tty_type(t, "q");
    guarded_end e = guarded_wait(t, 60000);
    EXPECT_EQ(e.status, 0) << tty_screen(t);
    EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
}

const std::string NUL(1, '\0');
const std::string GARBAGE = std::string("a") + NUL + "b\xff\xfe\x80\xc3(\xe9t\xe9\x1b[2J\x07\x08\r\x7f" +
                            "\xf0\x9f\x98" + "\xe2\x82\xac";

// NUL bytes, bytes above 127 (invalid UTF-8, Latin-1), escape and control
// characters in each text of the status file.
TEST(Hostile, BinaryBytesInEveryStatusText)
{
    struct field_case {
        const char *name;
        std::string status;
    };
    const std::vector<field_case> cases = {
        {"host name", status_file(CREATED, host_stanza("h" + GARBAGE, 1, "out", CREATED - 9))},
        {"host output", status_file(CREATED, host_stanza("h", 1, GARBAGE, CREATED - 9))},
        {"service host", status_file(CREATED, service_stanza(GARBAGE, "svc", 2, "o", 5))},
        {"description", status_file(CREATED, service_stanza("h", GARBAGE, 2, "o", 5))},
        {"service output", status_file(CREATED, service_stanza("h", "s", 1, GARBAGE, 5))},
        {"state", [] {
             std::string s = status_file(CREATED, service_stanza("h", "s", 1, "o", 5));
             s.replace(s.find("current_state=1"), 15, "current_state=" + GARBAGE);
             return s;
         }()},
        {"last change", [] {
             std::string s = status_file(CREATED, service_stanza("h", "s", 1, "o", 5));
             s.replace(s.find("last_state_change=5"), 19, "last_state_change=" + GARBAGE);
             return s;
         }()},
        {"created", [] {
             std::string s = status_file(CREATED, host_stanza("h", 0, "o", 5));
             s.replace(s.find("created=1700000000"), 18, "created=" + GARBAGE);
             return s;
         }()},
        {"keys", "info {\n\tcreated=1\n}\n" + GARBAGE + "=x\nhoststatus {\n" + GARBAGE +
                     "\n\thost_name=" + GARBAGE + "\n\t" + GARBAGE + "=" + GARBAGE +
                     "\n\tcurrent_state=0\n\tplugin_output=x\n\tlast_state_change=1\n}\n"},
    };
    for (const field_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir() + "/" + std::to_string(&c - cases.data());
        write_defaults(dir, c.status);
        expect_runs_and_quits(dir);
    }
}

// The same bytes and a bare carriage return in the configuration values.
TEST(Hostile, BinaryBytesInConfigurationValues)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, service_stanza("web", "HTTP", 2, "down", 5)));
    write_file(system_rc_path_in(dir), "default site_name = " + GARBAGE + "\n" +
                                           "default text =~ /" + GARBAGE + "/\n" +
                                           "f3 text !~ /" + GARBAGE + "/\n" +
                                           "default age = " + GARBAGE + "\n" + GARBAGE + "\n");
    write_file(dir + "/.quelvanrc", "default text !~ /\xff(/\ndefault level = CRITICAL\r\n");
    expect_runs_and_quits(dir);
}

// Lines of a megabyte: a long text, a long key, a long comment and a long
// line outside any stanza; in both configuration files and the hook script.
TEST(Hostile, MegabyteLinesInEveryFile)
{
    const std::string mb(1 << 20, 'x');
    const std::string dir = test_dir();
    write_defaults(dir,
                   "# " + mb + "\n" +
                       status_file(CREATED, mb + "\n" +
                                                host_stanza(mb, 1, mb, CREATED - 5) +
                                                service_stanza("h", mb, 2, mb, 9) +
                                                "servicestatus {\n\t" + mb + "=1\n" +
                                                "\thost_name=h2\n\tservice_description=s\n"
                                                "\tcurrent_state=0\n\tlast_state_change=1\n"
                                                "\tplugin_output=" + mb + mb + "\n}\n"),
                   std::string(PASS_THROUGH_HOOK) + "# " + mb + "\nmy $long = '" + mb + "';\n");
    write_file(system_rc_path_in(dir), "default site_name = " + mb + "\n");
    write_file(dir + "/.quelvanrc", "# " + mb + "\ndefault text =~ /" + mb + "/\n");
    expect_runs_and_quits(dir);
}

// Numbers beyond 32 bits: the creation time and the state changes are held
// at the nearest end, and the durations between them do not overflow.
TEST(Hostile, NumbersBeyondThirtyTwoBits)
{
    struct number_case {
        const char *created;
        const char *change;
    };
    const std::vector<number_case> cases = {
        {"99999999999", "-99999999999"}, {"-99999999999", "99999999999"},
        {"2147483647", "-2147483648"},   {"-2147483648", "2147483647"},
        {"4294967296", "0"},             {"18446744073709551617", "-9223372036854775809"},
    };
    for (const number_case &c : cases) {
        SCOPED_TRACE(std::string(c.created) + " " + c.change);
        const std::string dir = test_dir() + "/" + std::to_string(&c - cases.data());
        std::string s = status_file(CREATED, host_stanza("h", 1, "o", 7) +
                                                 service_stanza("h", "s", 2, "o", 7));
        s.replace(s.find("created=1700000000"), 18, std::string("created=") + c.created);
        for (size_t p; (p = s.find("last_state_change=7")) != std::string::npos;)
            s.replace(p, 19, std::string("last_state_change=") + c.change);
        write_defaults(dir, s);
        expect_runs_and_quits(dir, {"-m", "h"});
    }
}

// 250,000 stanzas of one line each: the key search runs through them to the
// end of the file and ends with its message; the same number of one-line
// stanzas the reader does not read is passed over.
TEST(Hostile, QuarterMillionOneLineStanzas)
{
    std::string headers;
    for (int i = 0; i < 250000; i++)
        headers += "hoststatus {\n";
    {
        const std::string dir = test_dir() + "/hosts";
        const std::string s = status_file(CREATED) + headers;
        write_defaults(dir, s);
        tty t = guarded_start(dir, {}, 200, 24);
        guarded_end e = guarded_wait(t, 60000);
        EXPECT_EQ(e.status, 1);
        EXPECT_TRUE(e.restored);
        const int lines = count_of(s, "\n") + 1;
        EXPECT_TRUE(tty_wait(t,
                             "fatal error: status.dat: could not find \"host_name\" for host "
                             "stanza preceeding line " + std::to_string(lines),
                             10000))
            << tty_screen(t);
    }
    {
        const std::string dir = test_dir() + "/others";
        std::string others;
        for (int i = 0; i < 250000; i++)
            others += "contactstatus {}\n";
        write_defaults(dir, status_file(CREATED, others + host_stanza("web", 1, "o", 5)));
        expect_runs_and_quits(dir, {"-m", "h"});
    }
}

// Paddings are read as numbers are, but held within a million rows or
// columns, so that no sum of paddings and screen sizes overflows.
TEST(Hostile, PaddingsAreHeldWithinAMillion)
{
    struct padding_case {
        const char *text;
        int value;
    };
    const std::vector<padding_case> cases = {
        {"12", 12},           {"-3", -3},          {" 5x", 5},
        {"1048576", 1 << 20}, {"1048577", 1 << 20}, {"2147483647", 1 << 20},
        {"99999999999", 1 << 20}, {"-2147483648", -(1 << 20)}, {"-99999999999999999999", -(1 << 20)},
    };
    for (const padding_case &c : cases) {
        SCOPED_TRACE(c.text);
        for (const char *option : {"-p", "-P"}) {
            settings_reset();
            std::vector<std::string> args = {"quelvan", option, c.text};
            std::vector<char *> argv;
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            optind = 0;
            frame_options(static_cast<int>(args.size()), argv.data());
            EXPECT_EQ(option[1] == 'p' ? pad : header_pad, c.value) << option;
        }
    }
}

// Paddings and intervals far out of range, and a wall of negatives.
TEST(Hostile, HugeAndNegativeNumbersOnTheCommandLine)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-p", "2147483647"},  {"-p", "-2147483648"}, {"-p", "99999999999"}, {"-p", "-1"},
        {"-p", "12"},          {"-P", "2147483647"},  {"-P", "-2147483648"}, {"-P", "-5"},
        {"-P", "500"},         {"-i", "2147483647"},  {"-i", "-5"},          {"-i", "99999999999"},
        {"-p", "-7", "-P", "-7"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const std::string dir = test_dir() + "/" + std::to_string(&args - cases.data());
        std::string stanzas;
        for (int i = 0; i < 60; i++)
            stanzas += service_stanza("host" + std::to_string(i), "svc", i % 4, "out", 5);
        write_defaults(dir, status_file(CREATED, stanzas));
        // A later -i gives the refreshes the check needs.
        tty t = guarded_start(dir, [&] {
            std::vector<std::string> a = args;
            a.insert(a.end(), {"-d", "-i", "1"});
            return a;
        }());
        EXPECT_TRUE(wait_reads(t, 2)) << tty_screen(t);
        tty_type(t, "  bbj");
        tty_keys(t, {"NPage", "PPage"});
        tty_type(t, "q");
        guarded_end e = guarded_wait(t, 60000);
        EXPECT_EQ(e.status, 0) << tty_screen(t);
        EXPECT_TRUE(e.restored);
    }
}

// Configuration files that are not files: a directory, a FIFO nobody
// writes to, an endless device. Each is skipped; start-up goes on.
TEST(Hostile, ConfigurationFilesThatAreNotFiles)
{
    struct kind_case {
        const char *name;
        void (*make)(const std::string &path);
    };
    const std::vector<kind_case> cases = {
        {"directory", [](const std::string &p) { std::filesystem::create_directories(p); }},
        {"fifo", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"endless device",
         [](const std::string &p) { std::filesystem::create_symlink("/dev/zero", p); }},
    };
    for (const kind_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir() + "/" + std::to_string(&c - cases.data());
        write_defaults(dir, status_file(CREATED, host_stanza("web", 1, "o", 5)));
        std::filesystem::create_directories(
            std::filesystem::path(system_rc_path_in(dir)).parent_path());
        c.make(system_rc_path_in(dir));
        c.make(dir + "/.quelvanrc");
        run_result r = run_quelvan(dir, {"-V"}, {}, 20000);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "Quelvan-" QUELVAN_VERSION "\n");
        expect_runs_and_quits(dir, {"-m", "h"});
    }
}

// HOME empty or far longer than a path can be.
TEST(Hostile, OddHomeValues)
{
    for (const std::string &home : {std::string(""), std::string(5000, 'h'),
                                    "/" + std::string(5000, 'h'), std::string("/")}) {
        SCOPED_TRACE(home.size());
        const std::string dir = test_dir() + "/" + std::to_string(home.size()) + home.substr(0, 1);
        write_defaults(dir, status_file(CREATED, host_stanza("web", 1, "o", 5)));
        run_result r = run_quelvan(dir, {"-V"}, {{"HOME", home}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "Quelvan-" QUELVAN_VERSION "\n");
        tty t = guarded_start(dir, {"-d"}, 80, 24, {{"HOME", home}});
        EXPECT_TRUE(wait_reads(t, 1)) << tty_screen(t);
        tty_type(t, "q");
        guarded_end e = guarded_wait(t);
        EXPECT_EQ(e.status, 0);
        EXPECT_TRUE(e.restored);
    }
}

// Ages whose seconds do not fit in 32 bits are refused, not wrapped, by
// every channel that takes an age: -a, -A and both configuration keywords.
TEST(Hostile, AgesBeyondThirtyTwoBits)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(CREATED, host_stanza("web", 1, "o", 5)));
    const char *const ages[] = {"24856d",     "596524hrs", "35791395m",  "2147483648",
                                "-24856d",    "30000d",    "4294967296s", "99999999999",
                                "99999999999999999999d"};
    for (const char *age : ages) {
        SCOPED_TRACE(age);
        for (const auto &[option, name] : {std::pair<std::string, std::string>{"-a", "age"},
                                           {"-A", "ok_age"}}) {
            run_result r = run_quelvan(dir, {option, age});
            EXPECT_EQ(r.status, 1) << option;
            EXPECT_EQ(r.out.rfind("syntax error: can not parse " + name + " \"" + age + "\"\n", 0),
                      0u)
                << option << ": " << r.out;
        }
        const std::string rc_dir = dir + "/rc";
        write_defaults(rc_dir);
        write_file(rc_dir + "/.quelvanrc", std::string("default age = ") + age +
                                               "\ndefault okay_age = " + age + "\n");
        run_result r = run_quelvan(rc_dir, {"-V"});
        EXPECT_EQ(r.out, rc_dir + "/.quelvanrc: syntax error on line 1\n" + rc_dir +
                             "/.quelvanrc: syntax error on line 2\nQuelvan-" QUELVAN_VERSION "\n");
    }
    // The largest that fits is taken.
    run_result r = run_quelvan(dir, {"-a", "24855d", "-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Quelvan-" QUELVAN_VERSION "\n");
}

}  // namespace
