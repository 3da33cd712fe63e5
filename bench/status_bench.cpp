// SPDX-License-Identifier: GPL-2.0-or-later
// One full refresh of a status file at full capacity: 250,000 hosts and
// 250,000 services in the daemon's own layout, read through the shipped
// pass-through hook script. Reports the peak memory of the process and the
// time `wc -l` takes over the same file in the same run.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include "bench_data.h"
#include "detail/detail_private.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

double bench_peak_mb()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void bench_enter()
{
    static bool started = false;
    bench_data::make();
    if (chdir(bench_data::dir().c_str()) != 0) {
        perror(bench_data::dir().c_str());
        exit(1);
    }
    if (!started) {
        perl_hook_init();
        started = true;
    }
}

// The refresh without its 0.15 s pause: release, read, age lists.
void BM_RefreshFullCapacity(benchmark::State &state)
{
    bench_enter();
    status_refresh();  // the page cache holds the file, as it does for wc -l
    const double wc = bench_data::wc_seconds("status.dat");
    for (auto _ : state)
        status_refresh();
    state.counters["hosts"] = host_list_size;
    state.counters["services"] = service_list_size;
    state.counters["lines"] = line;
    state.counters["peak_MB"] = bench_peak_mb();
    state.counters["wc_l_s"] = wc;
    state.counters["file_MB"] =
        static_cast<double>(bench_data::fs::file_size("status.dat")) / 1e6;
}
BENCHMARK(BM_RefreshFullCapacity)->Unit(benchmark::kMillisecond)->Iterations(3);

// Enter on the file's last service: its stanza read again from the open
// snapshot, the comments and downtimes after the objects searched for its
// own, and the rows of an 80-column screen made.
void BM_DetailOpenLastService(benchmark::State &state)
{
    bench_enter();
    status_refresh();
    for (auto _ : state) {
        std::vector<detail_row> rows = detail_record(1, service_list_size - 1, 78);
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_DetailOpenLastService)->Unit(benchmark::kMillisecond);

// The same refresh with "default alert = bell": the problems of each read
// are compared with those of the previous one.
void BM_RefreshWithAlert(benchmark::State &state)
{
    bench_enter();
    alert_mode = 1;
    status_refresh();  // the first set to compare with
    for (auto _ : state)
        status_refresh();
    alert_mode = 0;
}
BENCHMARK(BM_RefreshWithAlert)->Unit(benchmark::kMillisecond)->Iterations(3);

// The alert's comparison alone: the problems of a read against those of
// the read before (the same ones: every key is looked up and found).
void BM_AlertCheck(benchmark::State &state)
{
    bench_enter();
    alert_mode = 1;
    status_refresh();
    status_refresh();
    for (auto _ : state)
        status_alert_check();
    alert_mode = 0;
}
BENCHMARK(BM_AlertCheck)->Unit(benchmark::kMillisecond);

// The link of each service to its host alone, made after a refresh when the
// unhandled filter or the alert needs it.
void BM_LinkHosts(benchmark::State &state)
{
    bench_enter();
    status_refresh();
    for (auto _ : state)
        status_link_hosts();
}
BENCHMARK(BM_LinkHosts)->Unit(benchmark::kMillisecond);

// The first refresh of a process, as at start-up: its memory is new. Only
// meaningful as the first benchmark of its process (run it on its own).
void BM_FirstRefresh(benchmark::State &state)
{
    bench_enter();
    static bool first = true;
    for (auto _ : state) {
        status_refresh();
        if (!first)
            state.SkipWithError("not the first refresh of the process");
        first = false;
    }
    state.counters["peak_MB"] = bench_peak_mb();
}
BENCHMARK(BM_FirstRefresh)->Unit(benchmark::kMillisecond)->Iterations(1);

// The refresh at 25,000, 100,000 and 250,000 items of each kind: the cost
// per item stays the same when nothing in a refresh grows faster than the
// number of items.
void BM_RefreshAtSize(benchmark::State &state)
{
    bench_enter();
    const long count = state.range(0);
    bench_data::make(count);
    if (chdir(bench_data::dir_for(count).c_str()) != 0)
        exit(1);
    status_refresh();
    for (auto _ : state)
        status_refresh();
    state.counters["cpu_ns_per_item"] = benchmark::Counter(
        static_cast<double>(2 * count) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    const double wc = bench_data::wc_seconds("status.dat");
    state.counters["wc_l_ns_per_item"] = wc * 1e9 / static_cast<double>(2 * count);
    if (chdir(bench_data::dir().c_str()) != 0)
        exit(1);
}
BENCHMARK(BM_RefreshAtSize)->Arg(25000)->Arg(100000)->Arg(MAX_ITEMS)
    ->Unit(benchmark::kMillisecond)->Iterations(3);

// `wc -l` of the same file, for the table.
void BM_WcL(benchmark::State &state)
{
    bench_enter();
    for (auto _ : state)
        state.SetIterationTime(bench_data::wc_seconds("status.dat"));
}
BENCHMARK(BM_WcL)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The whole read_status as the console runs it, pause included.
void BM_ReadStatusFullCapacity(benchmark::State &state)
{
    bench_enter();
    for (auto _ : state)
        read_status();
    state.counters["peak_MB"] = bench_peak_mb();
}
BENCHMARK(BM_ReadStatusFullCapacity)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
