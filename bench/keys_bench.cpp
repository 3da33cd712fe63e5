// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the keyboard's own work, without the draw that follows a key: the
// wait handing over a typed key, a filter prompt reading its answer, and the
// help screen. Curses runs on a real screen whose keyboard is a pipe and
// whose terminal output goes to /dev/null.
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <curses.h>

#include "keys/keys.h"
#include "quelvan.h"
#include "timer/timer.h"

namespace {

struct bench_screen {
    int keyboard[2];
    FILE *in, *out;
    SCREEN *screen;

    bench_screen()
    {
        polling_interval = 0;
        if (pipe(keyboard) != 0)
            std::abort();
        in = fdopen(keyboard[0], "r");
        out = fopen("/dev/null", "w");
        screen = newterm("screen", out, in);
        set_term(screen);
        keypad(stdscr, TRUE);
        cbreak();
        noecho();
    }
    ~bench_screen()
    {
        endwin();
        delscreen(screen);
        fclose(in);
        fclose(out);
        close(keyboard[1]);
    }
    void type(const std::string &s)
    {
        if (write(keyboard[1], s.data(), s.size()) != static_cast<ssize_t>(s.size()))
            std::abort();
    }
};

void BM_KeyHandedOver(benchmark::State &state)
{
    bench_screen s;
    for (auto _ : state) {
        s.type("z");
        benchmark::DoNotOptimize(timer_wait_key());
    }
}
BENCHMARK(BM_KeyHandedOver);

void BM_FilterPrompt(benchmark::State &state)
{
    bench_screen s;
    const std::string answer = std::string(static_cast<size_t>(state.range(0)), 'w') + "\n";
    for (auto _ : state) {
        s.type(answer);
        keys_execute('/');
    }
    state.SetLabel(std::to_string(state.range(0)) + " characters typed");
}
BENCHMARK(BM_FilterPrompt)->Arg(8)->Arg(1023);

void BM_HelpScreen(benchmark::State &state)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("quelvan-keys-bench-" + std::to_string(getpid()));
    fs::create_directories(dir / "etc");
    fs::copy_file(fs::path(QUELVAN_SOURCE_DIR) / "sample/etc/quelvan.help", dir / "etc/quelvan.help",
                  fs::copy_options::overwrite_existing);
    const fs::path back = fs::current_path();
    fs::current_path(dir);  // the help file is found from here
    {
        bench_screen s;
        for (auto _ : state) {
            s.type("q");
            help();
        }
    }
    fs::current_path(back);
    fs::remove_all(dir);
}
BENCHMARK(BM_HelpScreen);

}  // namespace

BENCHMARK_MAIN();
