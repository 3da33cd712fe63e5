// SPDX-License-Identifier: GPL-2.0-or-later
// One redraw of the service table at full capacity (250,000 services), in
// process, with curses writing to /dev/null: no filter, a regex filter
// through the shipped hook script, and both regex filters. Beside them the
// hook calls that such a redraw makes, alone: through the console's own call
// and at the floor of the protocol (bench_floor.h).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include <curses.h>

#include "bench_data.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "status/status.h"
#include "status/status_private.h"

#undef instr  // curses and Perl both name a macro so
#include "bench_floor.h"

namespace {

const char *const PATTERN = "OK";
const char *const NOT_PATTERN = "SSH";

void bench_enter()
{
    static bool started = false;
    if (started)
        return;
    bench_data::make();
    if (chdir(bench_data::dir().c_str()) != 0) {
        perror(bench_data::dir().c_str());
        exit(1);
    }
    perl_hook_init();
    status_refresh();
    // An 80x24 terminal whose output goes nowhere.
    setenv("LINES", "24", 1);
    setenv("COLUMNS", "80", 1);
    FILE *out = fopen("/dev/null", "w");
    FILE *in = fopen("/dev/null", "r");
    SCREEN *s = newterm("xterm", out, in);
    if (!s) {
        fprintf(stderr, "newterm failed\n");
        exit(1);
    }
    set_term(s);
    curses_active = true;
    draw_start_colors();
    started = true;
}

void bench_view(int filters)
{
    settings_reset();
    filter_set = filters;
    text_copy(name_filter, PATTERN);
    text_copy(not_name_filter, NOT_PATTERN);
}

// The texts the selection hands to the regex hook, in table order.
const std::vector<std::string> &bench_texts()
{
    static std::vector<std::string> texts;
    if (texts.empty())
        for (int i = 0; i < service_list_size; i++) {
            const item &it = service_list[i];
            texts.push_back(std::string(it.host_name) + " " + it.service_description + " " +
                            it.plugin_output);
        }
    return texts;
}

// filters 0: none; 1: the regex filter; 3: both regex filters; 16: unhandled only.
void BM_Redraw(benchmark::State &state)
{
    bench_enter();
    const int filters = static_cast<int>(state.range(0));
    bench_view(filters);
    for (auto _ : state) {
        need_swipe = 0;
        draw_screen();
    }
    state.counters["services"] = service_list_size;
    state.counters["num_pages"] = num_pages;
}
BENCHMARK(BM_Redraw)->Arg(0)->Arg(1)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond);

// The regex hook calls of such a redraw alone: through perl_regex_hook
// (arg 0) or at the floor (arg 1); filters as for BM_Redraw.
void BM_RegexCallsAlone(benchmark::State &state)
{
    bench_enter();
    const int filters = static_cast<int>(state.range(0));
    const bool floor = state.range(1) != 0;
    const std::vector<std::string> &texts = bench_texts();
    long calls = 0;
    for (auto _ : state) {
        calls = 0;
        for (const std::string &t : texts) {
            calls++;
            int out = floor ? bench_floor::regex(t.c_str(), PATTERN, 0)
                            : perl_regex_hook(t.c_str(), PATTERN, 0);
            if (out == 0 && (filters & FILTER_NOT_REGEX)) {
                calls++;
                if (floor)
                    bench_floor::regex(t.c_str(), NOT_PATTERN, 1);
                else
                    perl_regex_hook(t.c_str(), NOT_PATTERN, 1);
            }
        }
    }
    state.counters["calls"] = static_cast<double>(calls);
}
BENCHMARK(BM_RegexCallsAlone)
    ->Args({1, 0})->Args({1, 1})->Args({3, 0})->Args({3, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
