// SPDX-License-Identifier: GPL-2.0-or-later
// Faults during a run, met through the real binary in a terminal: signals,
// files that change or vanish between refreshes, hook scripts that die or
// exit, odd terminals. Whatever ends the program, the terminal is given back
// in the mode it had before.
#include <functional>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "guarded_tty.h"
#include "harness.h"

namespace {

const long CREATED = 1700000000;

std::string small_status(long created = CREATED, const std::string &output = "PING OK")
{
    return status_file(created, host_stanza("web01", 0, output, created - 600) +
                                    host_stanza("db01", 1, "DOWN " + output, created - 60) +
                                    service_stanza("web01", "HTTP", 2, output, created - 100) +
                                    service_stanza("db01", "Disk", 0, output, created - 5));
}

bool wait_file_text(const std::string &path, const std::string &text, int timeout_ms = WAIT_MS)
{
    return harness_poll([&] { return read_file(path).find(text) != std::string::npos; },
                        timeout_ms);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAULTS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FAULTS_ASAN 1
#endif

// The sanitizers' options with more of them behind.
env_list sanitizer_options(const std::string &more)
{
    env_list env;
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char *was = getenv(name);
        env.emplace_back(name, was && *was ? std::string(was) + ":" + more : more);
    }
    return env;
}

// Under a sanitizer a sent crash signal is left at its default action,
// which the sanitizer would otherwise take as a fault of its own to report.
env_list sent_signals_unreported()
{
    return sanitizer_options("handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_abort=0");
}

// A hook script with handlers of its own for the crash signals, which let
// the program go on: its service hook reads address 1 (a real fault) once
// the file "fault" exists.
const char *const OWN_HANDLERS_SCRIPT =
    "$SIG{SEGV} = sub { print STDERR \"own SEGV handler\\n\" };\n"
    "$SIG{ABRT} = sub { print STDERR \"own ABRT handler\\n\" };\n"
    "sub host_plugin_hook { $_[0] }\n"
    "sub service_plugin_hook { my $x = unpack('p', pack('J', 1)) if -e 'fault'; $_[0] }\n"
    "sub regex_hook { 0 }\n1;\n";

// Signals that end the program give the terminal back: the interrupt and
// terminate signals through curses' own handlers (status 1), hangup and
// quit through the program's (the signal's own status).
TEST(Faults, SignalsEndTheProgramWithTheTerminalRestored)
{
    struct signal_case {
        int signo;
        int status;
    };
    const std::vector<signal_case> cases = {
        {SIGTERM, 1}, {SIGINT, 1}, {SIGHUP, 128 + SIGHUP}, {SIGQUIT, 128 + SIGQUIT}};
    for (const signal_case &c : cases) {
        SCOPED_TRACE(strsignal(c.signo));
        const std::string dir = test_dir() + "/" + std::to_string(c.signo);
        write_defaults(dir, small_status());
        tty t = guarded_start(dir, {"-i", "1"});
        pid_t pid = guarded_pid(t);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        kill(pid, c.signo);
        guarded_end e = guarded_wait(t);
        EXPECT_EQ(e.status, c.status);
        EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
    }
}

// The crash signals give the terminal back too, and still end the program
// as the signal would have: status 128 + the signal's number. A hook script
// that sets its own handlers for them does not take them over: its handler
// would let the program go on with the terminal out of its screen mode.
TEST(Faults, CrashSignalsRestoreTheTerminalAndKeepTheirStatus)
{
    struct script_case {
        const char *name;
        const char *script;
    };
    const env_list env = sent_signals_unreported();
    for (const script_case &h : {script_case{"pass-through hooks", PASS_THROUGH_HOOK},
                                 script_case{"own handlers", OWN_HANDLERS_SCRIPT}}) {
        for (int signo : {SIGSEGV, SIGBUS, SIGILL, SIGABRT}) {
            SCOPED_TRACE(std::string(h.name) + ": " + strsignal(signo));
            const std::string dir =
                test_dir() + "/" + (h.script == PASS_THROUGH_HOOK ? "" : "own-") +
                std::to_string(signo);
            write_defaults(dir, small_status(), h.script);
            tty t = guarded_start(dir, {"-i", "1"}, 80, 24, env);
            pid_t pid = guarded_pid(t);
            ASSERT_GT(pid, 0);
            ASSERT_TRUE(tty_wait(t, "Command:", 20000)) << tty_screen(t);
            kill(pid, signo);
            guarded_end e = guarded_wait(t);
            EXPECT_EQ(e.status, 128 + signo);
            EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
            EXPECT_EQ(tty_stderr(t), "");
        }
    }
}

// The program itself faults: a hook reads a bad address during the first
// read, or during a refresh by the timer. The script's own handlers do not
// run; the terminal is given back and the fault ends the program with its
// status (128 + SIGSEGV), or, under AddressSanitizer, with the sanitizer's
// report of it (written to a file of the test's own, not to the run's
// reports).
TEST(Faults, ARealFaultInAHookRestoresTheTerminal)
{
    struct fault_case {
        const char *when;
        bool from_start;  // "fault" is there before the program starts
    };
    for (const fault_case &c : {fault_case{"first read", true}, fault_case{"timer refresh", false}}) {
        SCOPED_TRACE(c.when);
        const std::string dir = test_dir() + "/" + (c.from_start ? "start" : "timer");
        write_defaults(dir, small_status(), OWN_HANDLERS_SCRIPT);
        if (c.from_start)
            write_file(dir + "/fault", "");
        const env_list env = sanitizer_options("log_path=" + dir + "/asan");
        tty t = guarded_start(dir, {"-i", "1"}, 80, 24, env);
        if (!c.from_start) {
            ASSERT_TRUE(tty_wait(t, "Command:", 20000)) << tty_screen(t);
            write_file(dir + "/fault", "");
        }
        guarded_end e = guarded_wait(t);
        EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
        EXPECT_EQ(tty_stderr(t).find("own "), std::string::npos) << tty_stderr(t);
#ifdef FAULTS_ASAN
        EXPECT_EQ(e.status, 1);
        const std::string report = harness_sh("cat " + harness_quote(dir) + "/asan.* 2>/dev/null");
        EXPECT_NE(report.find("SEGV on unknown address"), std::string::npos) << report;
#else
        EXPECT_EQ(e.status, 128 + SIGSEGV);
#endif
    }
}

// A status file, hook script or help file that is not a regular file (after
// links) is refused at once, without waiting on it: the fopen message with
// the reason "not a regular file", status 1, the terminal given back. The
// hook script is met before the screen is set up, the status file right
// after, the help file at "?".
TEST(Faults, FilesThatAreNotRegularAreRefused)
{
    struct file_case {
        const char *name;                    // as the message shows it
        std::string (*path)(const std::string &);
        bool at_help_key;                    // opened at "?" rather than at start-up
    };
    const std::vector<file_case> files = {
        {"etc/quelvan.pl", hook_path, false},
        {"status.dat", status_path, false},
        {"etc/quelvan.help", help_path, true},
    };
    struct kind_case {
        const char *name;
        void (*make)(const std::string &);
    };
    const std::vector<kind_case> kinds = {
        {"fifo", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"device", [](const std::string &p) { ASSERT_EQ(symlink("/dev/null", p.c_str()), 0); }},
        {"directory", [](const std::string &p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }},
    };
    int n = 0;
    for (const file_case &f : files) {
        for (const kind_case &k : kinds) {
            SCOPED_TRACE(std::string(f.name) + " as a " + k.name);
            const std::string dir = test_dir() + "/" + std::to_string(n++);
            write_defaults(dir, small_status());
            ASSERT_EQ(std::remove(f.path(dir).c_str()), 0);
            k.make(f.path(dir));
            tty t = guarded_start(dir, {});
            if (f.at_help_key) {
                ASSERT_TRUE(tty_wait(t, "Command:", 20000)) << tty_screen(t);
                tty_type(t, "?");
            }
            guarded_end e = guarded_wait(t);
            EXPECT_EQ(e.status, 1) << tty_screen(t);
            EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
            EXPECT_EQ(tty_stderr(t),
                      "fatal error: fopen " + std::string(f.name) + " failed: not a regular file\n");
        }
    }
}

// Ctrl-C typed at the console is the interrupt signal.
TEST(Faults, CtrlCRestoresTheTerminal)
{
    const std::string dir = test_dir();
    write_defaults(dir, small_status());
    tty t = guarded_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_keys(t, {"C-c"});
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 1);
    EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
}

// The status file removed, or a stanza broken, between two refreshes: the
// message comes after the screen has been ended, status 1.
TEST(Faults, StatusFileSpoiledBeforeARefresh)
{
    struct spoil_case {
        const char *what;
        std::function<void(const std::string &dir)> spoil;
        const char *err;     // standard error, exactly
        const char *screen;  // left on the terminal (standard output)
    };
    const spoil_case cases[] = {
        {"removed", [](const std::string &dir) { std::remove(status_path(dir).c_str()); },
         "fatal error: fopen status.dat failed: No such file or directory\n", ""},
        // The service stanza loses its description: the search for it meets
        // the closing brace.
        {"stanza broken",
         [](const std::string &dir) {
             std::string broken = status_file(CREATED, service_stanza("web01", "HTTP", 2, "x", 1));
             broken.replace(broken.find("\tservice_description=HTTP\n"), 26, "");
             const std::string tmp = dir + "/status.new";
             write_file(tmp, broken);
             ASSERT_EQ(rename(tmp.c_str(), status_path(dir).c_str()), 0);
         },
         "",
         "fatal error: status.dat: could not find \"service_description\" for service stanza "
         "preceeding line 26"},
    };
    for (const spoil_case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = test_dir() + "/" + std::to_string(&c - cases);
        write_defaults(dir, small_status());
        tty t = guarded_start(dir, {"-i", "1"}, 200, 24);
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        c.spoil(dir);
        guarded_end e = guarded_wait(t);
        EXPECT_EQ(e.status, 1);
        EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
        EXPECT_EQ(tty_stderr(t), c.err);
        if (*c.screen) {
            EXPECT_TRUE(tty_wait(t, c.screen)) << tty_screen(t);
        }
    }
}

// A hook script that dies at a refresh, and one that calls Perl's exit:
// both leave a working terminal.
TEST(Faults, HookScriptDiesOrExitsAtARefresh)
{
    struct hook_case {
        const char *name;
        const char *body;  // the service hook once the file "stop" exists
        int status;
        const char *message;
    };
    const std::vector<hook_case> cases = {
        {"die", "die \"gone away\\n\"", 1, "fatal error: perl eval error: gone away"},
        {"exit", "exit 7", 7, nullptr},
        // The crash signals' handlers stay the program's.
        {"own crash handler", "$SIG{SEGV} = sub { 1 }", 1,
         "fatal error: perl eval error: Modification of a read-only value attempted"},
        {"own abort handler, localised", "local $SIG{ABRT} = 'IGNORE'", 1,
         "fatal error: perl eval error: Modification of a read-only value attempted"},
    };
    for (const hook_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_dir() + "/" + c.name;
        write_defaults(dir, small_status(),
                       std::string("sub host_plugin_hook { $_[0] }\n"
                                   "sub service_plugin_hook { ") +
                           c.body + " if -e 'stop'; $_[0] }\nsub regex_hook { 0 }\n1;\n");
        tty t = guarded_start(dir, {"-i", "1"});
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        write_file(dir + "/stop", "");
        guarded_end e = guarded_wait(t);
        EXPECT_EQ(e.status, c.status);
        EXPECT_TRUE(e.restored) << e.before << "\n--- after ---\n" << e.after;
        if (c.message) {
            EXPECT_TRUE(tty_wait(t, c.message)) << tty_screen(t);
        }
    }
}

// curses cannot work with a terminal type it does not know: its own
// message, status 1, before anything is drawn.
TEST(Faults, UnknownTerminalType)
{
    const std::string dir = test_dir();
    write_defaults(dir, small_status());
    tty t = guarded_start(dir, {}, 80, 24, {{"TERM", "no-such-terminal"}});
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 1);
    EXPECT_TRUE(e.restored);
    EXPECT_EQ(tty_stderr(t), "Error opening terminal: no-such-terminal.\n");

    run_result r = run_quelvan(dir, {}, {{"TERM", "no-such-terminal"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error opening terminal: no-such-terminal."), std::string::npos) << r.err;
}

// The daemon replaces its file by writing a new one and renaming it over
// the old one. Refreshing every second while that happens 100 times, every
// snapshot is one whole file: the debug log's release of each snapshot
// lists outputs of one version only, the version of its creation time.
TEST(Faults, AtomicReplacementsGiveWholeSnapshots)
{
    const std::string dir = test_dir();
    const int services = 300;
    auto version = [&](int v) {
        std::string stanzas;
        for (int i = 0; i < services; i++)
            stanzas += service_stanza(std::string("host").append(std::to_string(i)), "svc", i % 4,
                                      std::string("v").append(std::to_string(v)), CREATED - i);
        return status_file(CREATED + v, stanzas);
    };
    write_defaults(dir, version(0));
    tty t = guarded_start(dir, {"-i", "1", "-d"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    const std::string tmp = dir + "/status.dat.tmp";
    for (int v = 1; v <= 100; v++) {
        write_file(tmp, version(v));
        ASSERT_EQ(rename(tmp.c_str(), status_path(dir).c_str()), 0);
        harness_pause(40);
    }
    // One more refresh after the last replacement releases the last version.
    const int reads_before = count_of(tty_stderr(t), "done with read_status()");
    ASSERT_TRUE(tty_wait_stderr(t, "done with read_status()", reads_before + 2));
    tty_type(t, "q");
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(e.restored);

    // Split the log into reads: each "last update" line starts one, and the
    // "freeing service" lines that follow it release the read before it.
    std::istringstream log(tty_stderr(t));
    std::string row;
    std::vector<long> created;           // creation time of each read
    std::map<size_t, std::map<int, int>> outputs;  // read -> version -> count
    size_t releasing = 0;                // read whose texts are being freed
    bool in_release = false;
    int freed_lines = 0;
    while (std::getline(log, row)) {
        if (!row.empty() && row.back() == '\r')
            row.pop_back();
        if (row.rfind("read_status()", 0) == 0 || row.rfind("freeing", 0) == 0) {
            if (!in_release && !created.empty()) {
                releasing = created.size() - 1;
                in_release = true;
            }
        }
        const size_t open = row.rfind('(');
        const size_t seven = row.find(",7] v");
        if (row.rfind("last update is ", 0) == 0 && open != std::string::npos) {
            created.push_back(std::stol(row.substr(open + 1)));
            in_release = false;
        } else if (row.rfind("freeing service: [", 0) == 0 && seven != std::string::npos) {
            outputs[releasing][std::stoi(row.substr(seven + 5))]++;
            freed_lines++;
        }
    }
    ASSERT_GE(created.size(), 3u) << "too few refreshes";
    ASSERT_GT(freed_lines, 0);
    for (const auto &[read, versions] : outputs) {
        ASSERT_LT(read, created.size());
        EXPECT_EQ(versions.size(), 1u) << "read " << read << " mixes versions";
        ASSERT_FALSE(versions.empty());
        EXPECT_EQ(versions.begin()->first, created[read] - CREATED) << "read " << read;
        EXPECT_EQ(versions.begin()->second, services) << "read " << read;
    }
}

// A file rewritten in place (truncated, then written) while the console
// reads it every second: a read may meet half a file and end with the
// reader's message, but nothing worse; the terminal is given back either way.
TEST(Faults, StatusFileRewrittenInPlaceWhileRead)
{
    const std::string dir = test_dir();
    std::string stanzas;
    for (int i = 0; i < 2000; i++)
        stanzas += service_stanza(std::string("host").append(std::to_string(i)), "svc", i % 4, "out", CREATED - i);
    const std::string whole = status_file(CREATED, stanzas);
    write_defaults(dir, whole);
    tty t = guarded_start(dir, {"-i", "1"}, 200, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    for (int i = 0; i < 100 && read_file(dir + "/status.txt").empty(); i++) {
        FILE *f = fopen(status_path(dir).c_str(), "w");
        ASSERT_NE(f, nullptr);
        // Written in pieces, so a read can meet any prefix of the file.
        for (size_t at = 0; at < whole.size(); at += 4096) {
            fwrite(whole.data() + at, 1, std::min<size_t>(4096, whole.size() - at), f);
            fflush(f);
        }
        fclose(f);
        harness_pause(30);
    }
    tty_type(t, "q");
    guarded_end e = guarded_wait(t);
    EXPECT_TRUE(e.status == 0 || e.status == 1) << e.status;
    EXPECT_TRUE(e.restored);
    if (e.status == 1) {
        EXPECT_TRUE(tty_wait(t, "fatal error: status.dat: could not find")) << tty_screen(t);
    }
}

// Terminals too small for any layout: the program runs, refreshes, shows
// the detail screen and quits normally.
TEST(Faults, TinyTerminals)
{
    struct size_case {
        int cols, rows;
    };
    for (const size_case &c : std::vector<size_case>{{1, 24}, {80, 3}, {1, 1}, {2, 2}, {80, 1}}) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        const std::string dir =
            test_dir() + "/" + std::to_string(c.cols) + "x" + std::to_string(c.rows);
        write_defaults(dir, small_status());
        tty t = guarded_start(dir, {"-i", "1", "-d"}, c.cols, c.rows);
        ASSERT_GT(guarded_pid(t), 0);
        // Two refreshes by the timer, then keys.
        ASSERT_TRUE(wait_file_text(dir + "/stderr.txt", "last update"));
        ASSERT_TRUE(tty_wait_stderr(t, "done with read_status()", 3)) << tty_stderr(t);
        tty_type(t, " bxj?");
        tty_keys(t, {"Escape", "NPage", "PPage", "F1", "Down", "Enter"});
        // Where a page has rows, Enter opened the detail screen: scrolled, then
        // left with "q"; the next "q" quits (or goes to the ended pane).
        tty_keys(t, {"Down", "NPage", "Up"});
        tty_type(t, "qq");
        guarded_end e = guarded_wait(t);
        EXPECT_EQ(e.status, 0) << tty_screen(t);
        EXPECT_TRUE(e.restored);
    }
}

// Resizes while paging and while refreshes run: the program goes on and
// quits normally.
TEST(Faults, FiftyResizesWhilePagingAndRefreshing)
{
    const std::string dir = test_dir();
    std::string stanzas;
    for (int i = 0; i < 400; i++)
        stanzas += service_stanza(std::string("host").append(std::to_string(i)), "svc" + std::to_string(i), i % 4,
                                  "output " + std::to_string(i), CREATED - i);
    write_defaults(dir, status_file(CREATED, stanzas));
    tty t = guarded_start(dir, {"-i", "1"}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    for (int i = 0; i < 50; i++) {
        tty_resize(t, 20 + (i * 37) % 140, 2 + (i * 13) % 60);
        tty_type(t, i % 2 ? " " : "");
        tty_keys(t, {i % 3 ? "NPage" : "PPage"});
        harness_pause(i % 5 == 0 ? 300 : 20);
    }
    tty_resize(t, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "q");
    guarded_end e = guarded_wait(t);
    EXPECT_EQ(e.status, 0) << tty_screen(t);
    EXPECT_TRUE(e.restored);
}

// A thousand keys typed faster than the screen redraws are all taken; the
// quit key behind them still ends the program.
TEST(Faults, BurstOfAThousandKeys)
{
    const std::string dir = test_dir();
    write_defaults(dir, small_status());
    tty t = guarded_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    std::string keys;
    const std::string cycle = "  sbb.,<>";
    while (keys.size() < 1000)
        keys += cycle[keys.size() % cycle.size()];
    tty_type(t, keys);
    tty_type(t, "q");
    guarded_end e = guarded_wait(t, 120000);
    EXPECT_EQ(e.status, 0) << tty_screen(t);
    EXPECT_TRUE(e.restored);
}

}  // namespace
