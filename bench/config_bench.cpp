// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a configuration file: a large file of every kind of statement, and
// one of long lines that are read in pieces (all of them syntax errors).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "frame/frame.h"
#include "quelvan.h"

namespace {

std::string bench_file(const std::string &name, const std::string &content)
{
    std::string path = "/tmp/quelvan_config_bench_" + std::to_string(getpid()) + "_" + name;
    FILE *f = fopen(path.c_str(), "w");
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
    return path;
}

void read_bench(benchmark::State &state, const std::string &path, long lines)
{
    // Messages for bad lines would flood the report: send them away while
    // the file is read.
    fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    for (auto _ : state) {
        read_dot_file(path.c_str());
        benchmark::DoNotOptimize(filter_set);
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
    state.SetItemsProcessed(state.iterations() * lines);
    unlink(path.c_str());
}

void BM_ReadStatements(benchmark::State &state)
{
    const long lines = state.range(0);
    std::string content;
    const char *statements[] = {
        "# a comment line\n",
        "default level = WARNING\n",
        "default sort_order = by_age\n",
        "default text =~ /^(web|db)-0[1-5]/\n",
        "default text !~ /backup/\n",
        "default age = 90min\n",
        "default okay_age = 2h\n",
        "f7 text =~ /PostgreSQL|Redis/\n",
        "default site_name = headquarters\n",
    };
    for (long i = 0; i < lines; i++)
        content += statements[i % (sizeof statements / sizeof *statements)];
    read_bench(state, bench_file("statements", content), lines);
}
BENCHMARK(BM_ReadStatements)->Arg(1000)->Arg(100000);

void BM_ReadLongLines(benchmark::State &state)
{
    const long lines = state.range(0);
    std::string content;
    for (long i = 0; i < lines; i++)
        content += "default text =~ /" + std::string(5000, 'x') + "/\n";
    read_bench(state, bench_file("long", content), lines);
}
BENCHMARK(BM_ReadLongLines)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
