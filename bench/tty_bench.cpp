// SPDX-License-Identifier: GPL-2.0-or-later
// The real binary on a terminal (a pty of 80x24) with the full-capacity
// status file and the shipped files: start-up to the first complete screen,
// and a paging key at 250,000 services up to the redrawn screen. The peak
// memory of the console process is reported as well.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_data.h"

namespace {

using clock_type = std::chrono::steady_clock;

// The pause that a paging key shows its message for, and the blank frame of
// the swipe before the redraw.
constexpr double PAGE_PAUSE_S = 0.150 + 0.050;

struct console {
    pid_t pid = -1;
    int fd = -1;
    std::string out;
};

console start_console()
{
    bench_data::make();
    console c;
    struct winsize ws = {24, 80, 0, 0};
    c.pid = forkpty(&c.fd, nullptr, nullptr, &ws);
    if (c.pid < 0) {
        perror("forkpty");
        exit(1);
    }
    if (c.pid == 0) {
        if (chdir(bench_data::dir().c_str()) != 0)
            _exit(127);
        setenv("TERM", "xterm-256color", 1);
        setenv("TZ", "UTC", 1);
        setenv("HOME", bench_data::dir().c_str(), 1);
        unsetenv("LINES");
        unsetenv("COLUMNS");
        // QUELVAN_BENCH_BINARY measures another build of the console.
        const char *binary = getenv("QUELVAN_BENCH_BINARY");
        execl(binary ? binary : QUELVAN_BINARY, "quelvan", "-m", "s", "-i", "3600",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    return c;
}

// Reads until needle stands in the output after position from; returns the
// moment the read that completed it returned, and sets at to its position.
bool wait_for(console &c, const std::string &needle, size_t from, clock_type::time_point &when,
              size_t &at, double timeout_s = 120)
{
    const auto deadline = clock_type::now() + std::chrono::duration<double>(timeout_s);
    for (;;) {
        size_t p = c.out.find(needle, from);
        if (p != std::string::npos) {
            at = p + needle.size();
            return true;
        }
        auto now = clock_type::now();
        if (now > deadline)
            return false;
        struct pollfd pfd = {c.fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        char buf[65536];
        ssize_t n = read(c.fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        when = clock_type::now();
        c.out.append(buf, static_cast<size_t>(n));
    }
}

double peak_mb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// Seconds of processor time of the console, once it has ended.
double child_cpu_s = 0;
double child_faults = 0;

void stop_console(console &c)
{
    if (c.pid <= 0)
        return;
    if (write(c.fd, "q", 1) != 1)
        kill(c.pid, SIGTERM);
    clock_type::time_point when;
    size_t at;
    wait_for(c, "\x01never\x01", 0, when, at, 5);  // drain until it is gone
    int status;
    struct rusage ru = {};
    if (wait4(c.pid, &status, WNOHANG, &ru) == 0) {
        kill(c.pid, SIGKILL);
        wait4(c.pid, &status, 0, &ru);
    }
    child_faults = static_cast<double>(ru.ru_minflt + ru.ru_majflt);
    child_cpu_s = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                  static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    close(c.fd);
    c.pid = -1;
}

// From the start of the process to the first screen: the reader's "done",
// then the screen's "Command:" after it.
bool first_screen(console &c, clock_type::time_point &when, size_t &at)
{
    size_t done;
    return wait_for(c, "done", 0, when, done) && wait_for(c, "Command:", done, when, at);
}

void BM_StartUpToFirstScreen(benchmark::State &state)
{
    double peak = 0;
    for (auto _ : state) {
        const auto t0 = clock_type::now();
        console c = start_console();
        clock_type::time_point when;
        size_t at;
        if (!first_screen(c, when, at)) {
            stop_console(c);
            state.SkipWithError("no first screen");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(when - t0).count());
        peak = peak_mb(c.pid);
        stop_console(c);
    }
    state.counters["console_peak_MB"] = peak;
    // Start-up and quit together, as processor time: steadier on a busy machine.
    state.counters["console_cpu_s"] = child_cpu_s;
    state.counters["console_faults"] = child_faults;
}
BENCHMARK(BM_StartUpToFirstScreen)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// One console for every repetition of the key benchmark.
console &paging_console()
{
    static console c;
    static bool ready = false;
    if (!ready) {
        c = start_console();
        clock_type::time_point when;
        size_t at;
        if (!first_screen(c, when, at)) {
            fprintf(stderr, "no first screen\n");
            exit(1);
        }
        atexit([] { stop_console(c); });
        ready = true;
    }
    return c;
}

// "+" and "-" in turn: the time from the key to the redrawn screen, and the
// same less the message's pause and the swipe.
void BM_PagingKey(benchmark::State &state)
{
    console &c = paging_console();
    static int presses = 0;
    double beyond = 0;
    for (auto _ : state) {
        const bool down = presses++ % 2 == 0;
        const size_t from = c.out.size();
        const auto t0 = clock_type::now();
        if (write(c.fd, down ? "+" : "-", 1) != 1) {
            state.SkipWithError("write failed");
            return;
        }
        clock_type::time_point when;
        size_t msg, at;
        if (!wait_for(c, down ? "page down" : "page up", from, when, msg, 10) ||
            !wait_for(c, "Command:", msg, when, at, 10)) {
            state.SkipWithError("no redrawn screen");
            return;
        }
        const double s = std::chrono::duration<double>(when - t0).count();
        state.SetIterationTime(s);
        beyond = (s - PAGE_PAUSE_S) * 1e3;
    }
    state.counters["beyond_pause_ms"] = beyond;
}
BENCHMARK(BM_PagingKey)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
