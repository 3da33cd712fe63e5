// One full refresh of a status file at full capacity: 250,000 hosts and
// 250,000 services in the daemon's own layout (every key of the stanzas of
// the real Nagios 4 file, cycled with new names and times), read through
// the pass-through hook. Reports the peak memory of the process and the
// time `wc -l` takes over the same file.
//
// The file (about 680 MB) is made once in the build directory; set
// QUELVAN_BENCH_DIR to put it elsewhere.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

namespace fs = std::filesystem;

namespace {

const char *const BENCH_HOOK = "sub host_plugin_hook { return $_[0]; }\n"
                               "sub service_plugin_hook { return $_[0]; }\n"
                               "sub regex_hook { return 0; }\n1;\n";

std::vector<std::string> bench_stanzas(const std::string &file, const std::string &header)
{
    std::vector<std::string> out;
    size_t p = 0;
    while ((p = file.find("\n" + header + " {\n", p)) != std::string::npos) {
        size_t end = file.find("\n\t}\n", p);
        out.push_back(file.substr(p + 1, end + 4 - p - 1));
        p = end;
    }
    return out;
}

// A copy of stanza s with its host_name suffixed by n and a last state
// change moved to a time of its own (kept 0 where it was 0).
void bench_write_stanza(FILE *f, const std::string &s, long n, long created)
{
    std::istringstream in(s);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("\thost_name=", 0) == 0) {
            fprintf(f, "%s-%ld\n", line.c_str(), n);
        } else if (line.rfind("\tlast_state_change=", 0) == 0 && line != "\tlast_state_change=0") {
            fprintf(f, "\tlast_state_change=%ld\n", created - (n * 7919 + 13) % (400L * 86400));
        } else {
            fputs(line.c_str(), f);
            fputc('\n', f);
        }
    }
    fputc('\n', f);
}

const std::string &bench_dir()
{
    static const std::string dir = [] {
        const char *env = getenv("QUELVAN_BENCH_DIR");
        return fs::absolute(env ? env : "status-bench").string();
    }();
    return dir;
}

// Makes dir/status.dat at full capacity unless it is there already.
void bench_make_file(const std::string &dir)
{
    fs::create_directories(dir + "/etc");
    std::ofstream(dir + "/etc/quelvan.pl") << BENCH_HOOK;
    const std::string path = dir + "/status.dat";
    if (fs::exists(path))
        return;
    std::ifstream src(std::string(QUELVAN_SOURCE_DIR) + "/tests/fixtures/nagios4-status.dat");
    std::stringstream all;
    all << src.rdbuf();
    const std::string file = all.str();
    const std::vector<std::string> hosts = bench_stanzas(file, "hoststatus");
    const std::vector<std::string> services = bench_stanzas(file, "servicestatus");
    const long created = 1796851832;
    const std::string tmp = path + ".part";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f) {
        perror(tmp.c_str());
        exit(1);
    }
    // Everything up to the first host stanza as it stands: info, programstatus.
    fputs(file.substr(0, file.find("\nhoststatus {\n") + 1).c_str(), f);
    for (long i = 0; i < MAX_ITEMS; i++)
        bench_write_stanza(f, hosts[static_cast<size_t>(i) % hosts.size()], i, created);
    for (long i = 0; i < MAX_ITEMS; i++)
        bench_write_stanza(f, services[static_cast<size_t>(i) % services.size()], i, created);
    fclose(f);
    fs::rename(tmp, path);
}

double bench_wc_seconds(const std::string &path)
{
    auto start = std::chrono::steady_clock::now();
    std::string cmd = "wc -l < '" + path + "' > /dev/null";
    if (system(cmd.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double bench_peak_mb()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void bench_enter()
{
    static bool started = false;
    const std::string dir = bench_dir();
    bench_make_file(dir);
    if (chdir(dir.c_str()) != 0) {
        perror(dir.c_str());
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
    const double wc = bench_wc_seconds("status.dat");
    for (auto _ : state)
        status_refresh();
    state.counters["hosts"] = host_list_size;
    state.counters["services"] = service_list_size;
    state.counters["lines"] = line;
    state.counters["peak_MB"] = bench_peak_mb();
    state.counters["wc_l_s"] = wc;
    state.counters["file_MB"] = static_cast<double>(fs::file_size("status.dat")) / 1e6;
}
BENCHMARK(BM_RefreshFullCapacity)->Unit(benchmark::kMillisecond)->Iterations(3);

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
