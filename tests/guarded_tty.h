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

inline std::string guarded_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string guarded_sh(const std::string &cmd)
{
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Starts quelvan in dir like tty_start, inside a shell that keeps
// "stty -a" before and after the run in dir/stty-before.txt and
// dir/stty-after.txt, its process id in dir/pid.txt and its exit status
// (128 + n for a signal) in dir/status.txt. The pane stays alive after the
// run, showing what the program left on the terminal.
inline tty guarded_start(const std::string &dir, const std::vector<std::string> &args,
                         int cols = 80, int rows = 24, const env_list &env = {})
{
    static std::atomic<int> counter{0};
    tty t;
    t.socket = "quelvan-guarded-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    t.dir = dir;
    for (const char *f : {"/stty-before.txt", "/stty-after.txt", "/pid.txt", "/status.txt"})
        unlink((dir + f).c_str());
    const std::string conf = dir + "/tmux.conf";
    write_file(conf, "set -g remain-on-exit on\nset -g status off\nset -g escape-time 0\n"
                     "set -g default-terminal screen\n");
    std::string run = "exec env HOME=" + guarded_quote(dir) + " TZ=UTC LANG=C.UTF-8";
    // Appended in two steps: " " + std::string makes gcc 12 at -O3 warn,
    // falsely, of overlapping copies (restrict).
    for (const auto &[k, v] : env)
        run.append(" ").append(guarded_quote(k + "=" + v));
    run.append(" ").append(guarded_quote(QUELVAN_BINARY));
    for (const auto &a : args)
        run.append(" ").append(guarded_quote(a));
    run += " 2>" + guarded_quote(dir + "/stderr.txt");
    // The shell outlives a Ctrl-C typed at the program (its trap is not
    // passed on: the program gets the default disposition).
    const std::string script = "trap true INT QUIT; cd " + guarded_quote(dir) +
                               " && stty -a > stty-before.txt && "
                               "sh -c " + guarded_quote("echo $$ > pid.txt; " + run) +
                               "; echo $? > status.tmp; stty -a > stty-after.txt;"
                               " mv status.tmp status.txt; exec sleep 600";
    guarded_sh("tmux -L " + t.socket + " -f " + guarded_quote(conf) + " new-session -d -s q -x " +
               std::to_string(cols) + " -y " + std::to_string(rows) + " " +
               guarded_quote("sh -c " + guarded_quote(script)) + " 2>&1");
    return t;
}

// The program's process id once it is running, or -1.
inline pid_t guarded_pid(const tty &t, int timeout_ms = 20000)
{
    for (int waited = 0; waited <= timeout_ms; waited += 20) {
        std::string s = read_file(t.dir + "/pid.txt");
        if (!s.empty() && s.back() == '\n')
            return static_cast<pid_t>(atol(s.c_str()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

struct guarded_end {
    int status = -1;          // exit status, 128 + n for signal n; -1 still running
    bool restored = false;    // stty -a reads as before the run
    std::string before, after;
};

// Waits for the run to end and compares the terminal's modes.
inline guarded_end guarded_wait(const tty &t, int timeout_ms = 20000)
{
    guarded_end e;
    for (int waited = 0; waited <= timeout_ms; waited += 20) {
        std::string s = read_file(t.dir + "/status.txt");
        if (!s.empty()) {
            e.status = atoi(s.c_str());
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    e.before = read_file(t.dir + "/stty-before.txt");
    e.after = read_file(t.dir + "/stty-after.txt");
    // The first line holds the size, which a resize may have changed.
    auto modes = [](const std::string &all) { return all.substr(all.find('\n') + 1); };
    e.restored = e.status != -1 && !e.before.empty() && modes(e.before) == modes(e.after);
    return e;
}

#endif
