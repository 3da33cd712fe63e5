// SPDX-License-Identifier: GPL-2.0-or-later
// The binary in a terminal under a shell that notes the terminal's mode
// before the run and after it ends, with the exit status: whether the
// program gave the terminal back as it found it, whatever ended it.
#ifndef TESTS_GUARDED_TTY_H
#define TESTS_GUARDED_TTY_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "harness.h"

// Starts quelvan in dir like tty_start, inside a shell that keeps
// "stty -a" before and after the run in dir/stty-before.txt and
// dir/stty-after.txt, its process id in dir/pid.txt and its exit status
// (128 + n for a signal) in dir/status.txt. The pane stays alive after the
// run, showing what the program left on the terminal.
inline tty guarded_start(const std::string &dir, const std::vector<std::string> &args,
                         int cols = 80, int rows = 24, const env_list &env = {})
{
    for (const char *f : {"/stty-before.txt", "/stty-after.txt", "/pid.txt", "/status.txt"})
        unlink((dir + f).c_str());
    std::string run = "exec env HOME=" + harness_quote(dir) + " TZ=UTC LANG=C.UTF-8";
    // Appended in two steps: " " + std::string makes gcc 12 at -O3 warn,
    // falsely, of overlapping copies (restrict).
    for (const auto &[k, v] : env)
        run.append(" ").append(harness_quote(k + "=" + v));
    run.append(" ").append(harness_quote(QUELVAN_BINARY));
    for (const auto &a : args)
        run.append(" ").append(harness_quote(a));
    run.append(" 2>").append(harness_quote(dir + "/stderr.txt"));
    // The shell outlives a Ctrl-C typed at the program (its trap is not
    // passed on: the program gets the default disposition).
    const std::string script = "trap true INT QUIT; cd " + harness_quote(dir) +
                               " && stty -a > stty-before.txt && "
                               "sh -c " + harness_quote("echo $$ > pid.txt; " + run) +
                               "; echo $? > status.tmp; stty -a > stty-after.txt;"
                               " mv status.tmp status.txt; exec sleep 600";
    tty t;
    tty_launch(t, "quelvan-guarded", dir, "sh -c " + harness_quote(script), cols, rows);
    return t;
}

// The program's process id once it is running, or -1.
inline pid_t guarded_pid(const tty &t, int timeout_ms = WAIT_MS)
{
    pid_t pid = -1;
    harness_poll([&] {
        std::string s = read_file(t.dir + "/pid.txt");
        if (s.empty() || s.back() != '\n')
            return false;
        pid = static_cast<pid_t>(atol(s.c_str()));
        return true;
    }, timeout_ms);
    return pid;
}

struct guarded_end {
    int status = -1;          // exit status, 128 + n for signal n; -1 still running
    bool restored = false;    // stty -a reads as before the run
    std::string before, after;
};

// Waits for the run to end and compares the terminal's modes.
inline guarded_end guarded_wait(const tty &t, int timeout_ms = WAIT_MS)
{
    guarded_end e;
    harness_poll([&] {
        std::string s = read_file(t.dir + "/status.txt");
        if (s.empty())
            return false;
        e.status = atoi(s.c_str());
        return true;
    }, timeout_ms);
    e.before = read_file(t.dir + "/stty-before.txt");
    e.after = read_file(t.dir + "/stty-after.txt");
    // The first line holds the size, which a resize may have changed.
    auto modes = [](const std::string &all) { return all.substr(all.find('\n') + 1); };
    e.restored = e.status != -1 && !e.before.empty() && modes(e.before) == modes(e.after);
    return e;
}

#endif
