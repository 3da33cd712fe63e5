// SPDX-License-Identifier: GPL-2.0-or-later
// One redraw's selection over full service tables (250,000 items): without a
// filter, in age order, and with a regex filter through a pass-through
// regex_hook, beside the hook calls alone on the same texts. The whole
// draw_screen on a curses screen whose output goes nowhere is measured too.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>
#include <curses.h>

#include "perl/perl_hook.h"
#include "quelvan.h"
#include "screen/screen.h"
#include "status/status.h"

namespace {

constexpr int NOW = 1700000000;

// 250,000 services on 25,000 hosts, every tenth one in trouble.
void bench_fill()
{
    const char *states[] = {"OKAY", "OKAY", "OKAY", "OKAY", "WARNING",
                            "OKAY", "OKAY", "OKAY", "OKAY", "CRITICAL"};
    char buf[256];
    for (int i = 0; i < MAX_ITEMS; i++) {
        item &it = service_list[i];
        snprintf(buf, sizeof buf, "web-%05d", i / 10);
        it.host_name = strdup(buf);
        snprintf(buf, sizeof buf, "web-%05d service-%d", i / 10, i % 10);
        it.service_description = strdup(buf);
        const char *state = states[i % 10];
        it.current_state = strdup(state);
        it.last_state_change = NOW - (i * 7919L) % 864000;
        it.last_change = strdup("Tue Nov 14 22:13");
        it.duration = strdup("1d 2h");
        snprintf(buf, sizeof buf, "%s - check %d answered in 0.%03d seconds", state, i, i % 1000);
        it.plugin_output = strdup(buf);
        int level = convert_level(state);
        service_idx_to_level[i] = level;
        (level == 0 ? num_okay : level == 1 ? num_warn : num_crit)++;
    }
    service_list_size = MAX_ITEMS;
    last_update_int = NOW;
    strcpy(last_update, "Tue Nov 14 22:13:20");

    // Age order: newest change first.
    std::vector<int> order(MAX_ITEMS);
    for (int i = 0; i < MAX_ITEMS; i++)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [](int a, int b) {
        return service_list[a].last_state_change > service_list[b].last_state_change;
    });
    age_node **at = &services_by_age;
    for (int i : order) {
        *at = new age_node{i, static_cast<int>(service_list[i].last_state_change),
                           service_idx_to_level[i], nullptr};
        at = &(*at)->next;
    }
}


int bench_select()
{
    static std::vector<int> list;
    if (list.capacity() < static_cast<size_t>(MAX_ITEMS))
        list.reserve(MAX_ITEMS);
    select_candidates(list);
    int matched = select_walk(list, 0, 7, 20, nullptr);
    list.clear();
    return matched;
}

void BM_SelectNoFilter(benchmark::State &state)
{
    settings_reset();
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_select());
    state.SetItemsProcessed(state.iterations() * MAX_ITEMS);
}
BENCHMARK(BM_SelectNoFilter)->Unit(benchmark::kMillisecond);

void BM_SelectNoFilterByAge(benchmark::State &state)
{
    settings_reset();
    sort_mode = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_select());
    state.SetItemsProcessed(state.iterations() * MAX_ITEMS);
}
BENCHMARK(BM_SelectNoFilterByAge)->Unit(benchmark::kMillisecond);

void BM_SelectAgeFilter(benchmark::State &state)
{
    settings_reset();
    filter_set = FILTER_AGE;
    age_filter_secs = 3600;
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_select());
    state.SetItemsProcessed(state.iterations() * MAX_ITEMS);
}
BENCHMARK(BM_SelectAgeFilter)->Unit(benchmark::kMillisecond);

void BM_SelectRegexFilter(benchmark::State &state)
{
    settings_reset();
    filter_set = FILTER_REGEX;
    text_copy(name_filter, "web-0012[0-9]");
    int matched = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(matched = bench_select());
    state.counters["matches"] = matched;
    state.SetItemsProcessed(state.iterations() * MAX_ITEMS);
}
BENCHMARK(BM_SelectRegexFilter)->Unit(benchmark::kMillisecond);

// The same hook calls on texts built beforehand: the floor of the above.
void BM_RegexHookCallsAlone(benchmark::State &state)
{
    settings_reset();
    std::vector<std::string> texts;
    texts.reserve(MAX_ITEMS);
    char text[TEXT_SIZE];
    for (int i = 0; i < MAX_ITEMS; i++) {
        select_filter_text(i, text);
        texts.emplace_back(text);
    }
    for (auto _ : state) {
        int dropped = 0;
        for (const auto &t : texts)
            dropped += perl_regex_hook(t.c_str(), "web-0012[0-9]", 0) != 0;
        benchmark::DoNotOptimize(dropped);
    }
    state.SetItemsProcessed(state.iterations() * MAX_ITEMS);
}
BENCHMARK(BM_RegexHookCallsAlone)->Unit(benchmark::kMillisecond);

// A whole redraw without a filter, curses included, output to /dev/null.
void BM_DrawScreenNoFilter(benchmark::State &state)
{
    settings_reset();
    FILE *out = fopen("/dev/null", "w");
    FILE *in = fopen("/dev/null", "r");
    SCREEN *screen = newterm("xterm-256color", out, in);
    if (!screen) {
        state.SkipWithError("no terminal description");
        return;
    }
    draw_start_colors();
    resizeterm(50, 200);
    for (auto _ : state)
        draw_screen();
    endwin();
    delscreen(screen);
    fclose(out);
    fclose(in);
}
BENCHMARK(BM_DrawScreenNoFilter)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    setlocale(LC_CTYPE, "C.UTF-8");
    // The hook script is looked up from the working directory.
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("quelvan-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    if (chdir(dir.c_str()) != 0)
        return 1;
    fs::path hook(hook_script_path);
    if (hook.is_absolute()) {
        fprintf(stderr, "build the benchmarks with scripts/build -DQUELVAN_BENCH=ON\n");
        return 1;
    }
    if (hook.has_parent_path())
        fs::create_directories(hook.parent_path());
    // The regex filter is measured through the hook script that ships.
    fs::copy_file(fs::path(QUELVAN_SOURCE_DIR) / "sample/etc/quelvan.pl", hook,
                  fs::copy_options::overwrite_existing);
    perl_hook_init();
    bench_fill();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    perl_hook_free();
    fs::remove_all(dir);
    return 0;
}
