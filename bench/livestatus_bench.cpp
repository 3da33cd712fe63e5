// SPDX-License-Identifier: GPL-2.0-or-later
// A refresh over Livestatus against the same refresh from the status file:
// the objects of bench_data.h (250,000 hosts and 250,000 services) served as
// canned fixed16 JSON replies from unix sockets by threads of this program,
// read through the site path as the console reads its site statements. One
// site of every object, four sites of a quarter each served side by side,
// and one site of every object whose outputs' digits are drawn anew: a
// large reply is held packed, and the cycled outputs would pack far better
// than a real site's.
//
// Each measurement runs in a child process of its own (this program again,
// with --case), so that its peak memory (VmHWM) is its own and the cases
// can take turns: file, one site, four sites, file, ... The parent serves
// the replies and takes the medians. By hand:
//   livestatus_bench --serve SECONDS      only the sockets
//   livestatus_bench --case site1 READS   one case against them
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_data.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "site/site.h"
#include "status/status.h"
#include "status/status_private.h"

namespace {

constexpr int LIVE_SITES = 4;  // the side-by-side case

// The value of "\tkey=" in a stanza ("" when absent).
std::string live_value(const std::string &stanza, const char *key)
{
    const std::string k = std::string("\t") + key + "=";
    const size_t p = stanza.find(k);
    if (p == std::string::npos)
        return "";
    const size_t from = p + k.size();
    return stanza.substr(from, stanza.find('\n', from) - from);
}

void live_json_string(std::string &out, const std::string &s)
{
    out += '"';
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    out += '"';
}

// A number as the status file gives it: the text itself, 0 when empty.
void live_json_number(std::string &out, const std::string &s)
{
    out += s.empty() ? "0" : s;
}

// The fields of one sample stanza in the order the reader asks for them;
// names and changes are made per object as bench_data::write_stanza does.
struct live_proto {
    std::string host_name, description, state, checked, output, change, ack, downtime;
};

live_proto live_proto_of(const std::string &s)
{
    return {live_value(s, "host_name"),
            live_value(s, "service_description"),
            live_value(s, "current_state"),
            live_value(s, "has_been_checked"),
            live_value(s, "plugin_output"),
            live_value(s, "last_state_change"),
            live_value(s, "problem_has_been_acknowledged"),
            live_value(s, "scheduled_downtime_depth")};
}

std::string live_change(const live_proto &p, long n)
{
    if (p.change == "0")
        return p.change;
    return std::to_string(bench_data::CREATED - (n * 7919 + 13) % (400L * 86400));
}

std::string live_reply(const std::string &body)
{
    char header[17];
    snprintf(header, sizeof header, "200 %11zu\n", body.size());
    return header + body;
}

// The three replies of one site: the status, its hosts and its services,
// objects first..first+count of the status-file benchmark's.
struct live_replies {
    std::string status, hosts, services;
};

// The output of object n with each of its digits drawn anew (lengths kept):
// cycled stanzas repeat their outputs exactly, which packs far better than
// a real site's measurements do.
std::string live_varied(const std::string &output, long n)
{
    std::string out = output;
    uint64_t x = static_cast<uint64_t>(n) * 0x9e3779b97f4a7c15u + 1;
    for (char &c : out)
        if (c >= '0' && c <= '9') {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>('0' + x % 10);
        }
    return out;
}

// One row of a hosts or (with its description) services reply, in the
// reader's column order.
void live_row(std::string &b, const live_proto &p, long n, bool first, bool service, bool varied)
{
    b += first ? "[" : ", [";  // as Icinga 2 writes them: all on one line
    live_json_string(b, p.host_name + "-" + std::to_string(n));
    if (service) {
        b += ',';
        live_json_string(b, p.description);
    }
    b += ',';
    live_json_number(b, p.state);
    b += ',';
    live_json_number(b, p.checked);
    b += ',';
    live_json_string(b, varied ? live_varied(p.output, n) : p.output);
    b += ',';
    b += live_change(p, n);
    b += ',';
    live_json_number(b, p.ack);
    b += ',';
    live_json_number(b, p.downtime);
    b += ']';
}

live_replies live_make(const std::vector<live_proto> &hosts,
                       const std::vector<live_proto> &services, const std::string &program_start,
                       long first, long count, bool varied = false)
{
    live_replies r;
    r.status = live_reply("[[" + program_start + "]]\n");
    auto rows = [&](const std::vector<live_proto> &protos, bool service) {
        std::string b = "[";
        for (long n = first; n < first + count; n++)
            live_row(b, protos[static_cast<size_t>(n) % protos.size()], n, n == first, service,
                     varied);
        b += "]\n";
        return live_reply(b);
    };
    r.hosts = rows(hosts, false);
    r.services = rows(services, true);
    return r;
}

bool live_send_all(int fd, const std::string &data)
{
    size_t off = 0;
    while (off < data.size()) {
        const ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// One connection: each request (up to its empty line) gets its table's
// canned reply, until the peer closes.
void live_serve_connection(int fd, const live_replies *r)
{
    std::string in;
    char buf[4096];
    for (;;) {
        size_t end;
        while ((end = in.find("\n\n")) == std::string::npos) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                close(fd);
                return;
            }
            in.append(buf, static_cast<size_t>(n));
        }
        const std::string request = in.substr(0, end);
        in.erase(0, end + 2);
        const std::string &reply = request.rfind("GET hosts", 0) == 0      ? r->hosts
                                   : request.rfind("GET services", 0) == 0 ? r->services
                                                                           : r->status;
        if (!live_send_all(fd, reply)) {
            close(fd);
            return;
        }
    }
}

// Serves the socket at path for the rest of the process, a thread for each
// connection (the parent's own kept connections never block a child's).
void live_serve(const std::string &path, const live_replies *r)
{
    unlink(path.c_str());
    const int lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(lfd, 16) != 0) {
        perror(path.c_str());
        exit(1);
    }
    std::thread([lfd, r] {
        for (;;) {
            const int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                std::thread(live_serve_connection, fd, r).detach();
        }
    }).detach();
}

std::string live_socket(int k) { return bench_data::dir() + "/live-" + std::to_string(k) + ".sock"; }

// The replies, made and served once: socket 0 every object, sockets 1..4 a
// quarter each, socket 5 every object with outputs of varied digits.
constexpr int LIVE_VARIED = LIVE_SITES + 1;
void live_start()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    bench_data::make();
    const std::string file =
        bench_data::read_all(std::string(QUELVAN_SOURCE_DIR) + "/sample/status.dat");
    std::vector<live_proto> hosts, services;
    for (const std::string &s : bench_data::stanzas(file, "hoststatus"))
        hosts.push_back(live_proto_of(s));
    for (const std::string &s : bench_data::stanzas(file, "servicestatus"))
        services.push_back(live_proto_of(s));
    const std::string start = live_value(file, "program_start");
    static std::vector<live_replies> replies;
    replies.push_back(live_make(hosts, services, start, 0, MAX_ITEMS));
    const long quarter = MAX_ITEMS / LIVE_SITES;
    for (int k = 0; k < LIVE_SITES; k++)
        replies.push_back(live_make(hosts, services, start, k * quarter, quarter));
    replies.push_back(live_make(hosts, services, start, 0, MAX_ITEMS, true));
    for (size_t k = 0; k < replies.size(); k++)
        live_serve(live_socket(static_cast<int>(k)), &replies[k]);
}

// --- the child: one case, its refreshes timed, its peak memory ---

// A refresh through the site path: the reads started, then taken in as
// they come, as the console's loop does, until none is under way.
void live_site_refresh()
{
    site_read(true);
    while (site_wait_ms() >= 0) {
        pollfd p{site_wake_fd(), POLLIN, 0};
        poll(&p, 1, 100);
        site_collect();
    }
    site_collect();  // a read that ended after the last look
}

void live_configure(int first, int count)
{
    site_count = count;
    site_timeout_secs = 120;
    for (int k = 0; k < count; k++) {
        site &s = sites[k];
        s = site{};
        snprintf(s.name, sizeof s.name, "live%d", k);
        s.kind = SITE_LIVESTATUS_UNIX;
        snprintf(s.path, sizeof s.path, "%s", live_socket(first + k).c_str());
    }
}

// A line of /proc/self/status in kB ("VmHWM:", the peak; "VmRSS:", now).
long live_status_kb(const char *key)
{
    FILE *f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, key, strlen(key)) == 0)
            kb = atol(line + strlen(key));
    if (f)
        fclose(f);
    return kb;
}

double live_cpu_s()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// "file", "site1", "site4" or "site1v": a first refresh, then reads timed refreshes;
// prints "ms cpu_ms hwm_kb hosts services rss_kb" (medians; the memory
// still resident after the last refresh last).
int live_child(const std::string &which, int reads)
{
    if (chdir(bench_data::dir().c_str()) != 0)
        return 1;
    perl_hook_init();
    if (which == "site1")
        live_configure(0, 1);
    else if (which == "site4")
        live_configure(1, LIVE_SITES);
    else if (which == "site1v")
        live_configure(LIVE_VARIED, 1);
    else if (which != "file")
        return 1;
    auto refresh = [&] {
        if (which == "file")
            status_refresh();
        else
            live_site_refresh();
    };
    refresh();
    std::vector<double> wall, cpu;
    for (int i = 0; i < reads; i++) {
        const double c0 = live_cpu_s();
        const auto t0 = std::chrono::steady_clock::now();
        refresh();
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        cpu.push_back((live_cpu_s() - c0) * 1000);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    printf("%.1f %.1f %ld %d %d %ld\n", wall[wall.size() / 2], cpu[cpu.size() / 2],
           live_status_kb("VmHWM:"), host_list_size, service_list_size, live_status_kb("VmRSS:"));
    return 0;
}

struct live_sample {
    double ms = 0, cpu_ms = 0, hwm_mb = 0, rss_mb = 0;
    int hosts = 0, services = 0;
};

live_sample live_run_child(const std::string &program, const char *which, int reads)
{
    int out[2];
    if (pipe(out) != 0)
        exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const std::string r = std::to_string(reads);
        execl(program.c_str(), "livestatus_bench", "--case", which, r.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    live_sample s;
    long kb = 0, rss_kb = 0;
    // An earlier build's cases give no resident figure.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        sscanf(text.c_str(), "%lf %lf %ld %d %d %ld", &s.ms, &s.cpu_ms, &kb, &s.hosts,
               &s.services, &rss_kb) < 5) {
        fprintf(stderr, "case %s of %s failed: %s\n", which, program.c_str(), text.c_str());
        exit(1);
    }
    s.hwm_mb = static_cast<double>(kb) / 1024.0;
    s.rss_mb = static_cast<double>(rss_kb) / 1024.0;
    return s;
}

double live_median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct live_case {
    std::string label, program;
    const char *which;
    std::vector<double> ms, cpu, hwm, rss;
};

// The cases in turn, rounds times, each in a fresh process with three timed
// refreshes after its first: medians of the rounds' medians. With
// QUELVAN_BENCH_BEFORE=PROGRAM (this benchmark built from an earlier tree)
// its site cases take their turns too, as site1_before and site4_before.
void BM_LivestatusVsFile(benchmark::State &state)
{
    live_start();
    const char *env = getenv("QUELVAN_BENCH_REPS");
    const int rounds = env ? std::max(1, atoi(env)) : 5;
    std::vector<live_case> cases = {{"file", "/proc/self/exe", "file", {}, {}, {}, {}},
                                    {"site1", "/proc/self/exe", "site1", {}, {}, {}, {}},
                                    {"site4", "/proc/self/exe", "site4", {}, {}, {}, {}},
                                    {"site1_varied", "/proc/self/exe", "site1v", {}, {}, {}, {}}};
    if (const char *before = getenv("QUELVAN_BENCH_BEFORE")) {
        cases.push_back({"site1_before", before, "site1", {}, {}, {}, {}});
        cases.push_back({"site4_before", before, "site4", {}, {}, {}, {}});
    }
    for (auto _ : state) {
        for (int r = 0; r < rounds; r++) {
            std::string line = "round " + std::to_string(r + 1) + ":";
            for (live_case &c : cases) {
                const live_sample s = live_run_child(c.program, c.which, 3);
                if (s.hosts != MAX_ITEMS || s.services != MAX_ITEMS)
                    state.SkipWithError("a case did not read every object");
                c.ms.push_back(s.ms);
                c.cpu.push_back(s.cpu_ms);
                c.hwm.push_back(s.hwm_mb);
                c.rss.push_back(s.rss_mb);
                char part[160];
                snprintf(part, sizeof part, " %s %.0f ms (cpu %.0f) %.0f MB", c.label.c_str(),
                         s.ms, s.cpu_ms, s.hwm_mb);
                line += part;
            }
            fprintf(stderr, "%s\n", line.c_str());  // each round's own, for the spread
        }
    }
    for (const live_case &c : cases) {
        state.counters[c.label + "_ms"] = live_median(c.ms);
        state.counters[c.label + "_cpu_ms"] = live_median(c.cpu);
        state.counters[c.label + "_peak_MB"] = live_median(c.hwm);
        state.counters[c.label + "_resident_MB"] = live_median(c.rss);
    }
    state.counters["site1_vs_file"] = live_median(cases[1].ms) / live_median(cases[0].ms);
    state.counters["site4_vs_site1"] = live_median(cases[2].ms) / live_median(cases[1].ms);
    state.counters["peak_site1_vs_file"] = live_median(cases[1].hwm) / live_median(cases[0].hwm);
    state.counters["peak_site1_varied_vs_file"] =
        live_median(cases[3].hwm) / live_median(cases[0].hwm);
    state.counters["rounds"] = rounds;
}
BENCHMARK(BM_LivestatusVsFile)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--case") == 0)
        return live_child(argv[2], atoi(argv[3]));
    // Only the sockets, for a case run by hand (under perf, say) meanwhile.
    if (argc == 3 && strcmp(argv[1], "--serve") == 0) {
        live_start();
        fprintf(stderr, "serving %s for %s s\n", live_socket(0).c_str(), argv[2]);
        sleep(static_cast<unsigned>(atoi(argv[2])));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
