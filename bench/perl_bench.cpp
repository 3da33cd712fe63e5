// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the calls into the hook script: the text hooks as one status read
// makes them (a display name and an output per service, an output per host)
// and the regex hook as one filtered draw makes it, with the sample script and
// the texts of the real Nagios 4 status file.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "perl/perl_hook.h"
#include "quelvan.h"

#include "bench_floor.h"

namespace {

constexpr int TEXT_CALLS = 750000;
constexpr int REGEX_CALLS = 250000;

struct fixture_texts {
    std::vector<std::string> outputs;  // plugin outputs
    std::vector<std::string> names;    // "host description" and host names
};

fixture_texts read_fixture()
{
    std::ifstream f(std::string(QUELVAN_SOURCE_DIR) + "/sample/status.dat");
    fixture_texts t;
    std::string line, host;
    while (std::getline(f, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        std::string kv = line.substr(start);
        if (kv.rfind("plugin_output=", 0) == 0)
            t.outputs.push_back(kv.substr(14));
        else if (kv.rfind("host_name=", 0) == 0)
            host = kv.substr(10);
        else if (kv.rfind("service_description=", 0) == 0)
            t.names.push_back(host + " " + kv.substr(20));
    }
    return t;
}

// Starts the interpreter once, with the sample script, in a scratch directory
// laid out as the build expects its files.
void bench_start()
{
    static bool started = false;
    if (started)
        return;
    char tmpl[] = "/tmp/quelvan-bench-XXXXXX";
    if (!mkdtemp(tmpl) || chdir(tmpl) != 0)
        abort();
    std::ifstream sample(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.pl");
    std::stringstream script;
    script << sample.rdbuf();
    std::string dir = std::string(tmpl) + "/" + hook_script_path;
    dir.erase(dir.rfind('/'));
    if (system(("mkdir -p '" + dir + "'").c_str()) != 0)
        abort();
    std::ofstream(hook_script_path) << script.str();
    perl_hook_init();
    started = true;
}

// The text hook calls of one refresh's worth of items, through call: the
// buffers as the reader hands them over (the sample hooks leave them as
// they are).
void text_calls(benchmark::State &state, void (*call)(int, char *))
{
    bench_start();
    fixture_texts t = read_fixture();
    std::vector<std::array<char, TEXT_SIZE>> outputs(t.outputs.size()), names(t.names.size());
    for (size_t i = 0; i < t.outputs.size(); i++)
        text_copy(outputs[i].data(), t.outputs[i].c_str());
    for (size_t i = 0; i < t.names.size(); i++)
        text_copy(names[i].data(), t.names[i].c_str());
    for (auto _ : state) {
        size_t o = 0, n = 0;
        for (int c = 0; c < TEXT_CALLS; c += 3) {
            call(HOOK_SERVICE, names[n].data());
            call(HOOK_SERVICE, outputs[o].data());
            call(HOOK_HOST, outputs[(o + 1) % outputs.size()].data());
            n = (n + 1) % names.size();
            o = (o + 2) % outputs.size();
        }
        benchmark::DoNotOptimize(outputs.data());
    }
    state.counters["us_per_call"] = benchmark::Counter(
        TEXT_CALLS / 1e6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_text_hooks(benchmark::State &state) { text_calls(state, perl_hook); }
BENCHMARK(BM_text_hooks)->Unit(benchmark::kMillisecond);

// The same calls at the floor of the protocol.
void BM_text_hooks_floor(benchmark::State &state) { text_calls(state, bench_floor::text); }
BENCHMARK(BM_text_hooks_floor)->Unit(benchmark::kMillisecond);

// Another way to keep the script's $@ across call_sv's eval, measured for
// comparison: a Perl wrapper compiled once that puts $@ back, calls the sub
// and hands $@ over in a package variable. The console uses an XSUB instead.
namespace wrapper {

struct wrapper_state {
    SV *wrapper = nullptr;
    SV *error = nullptr;
    GV *globs[2] = {};
    SV *arg = nullptr;
};

wrapper_state &state()
{
    static wrapper_state s;
    if (!s.wrapper) {
        dTHX;
        s.wrapper = eval_pv("our ($kept, $error) = ('', ''); "
                            "sub { my $f = shift; $@ = $kept; my $r = &$f; $error = $@; "
                            "$kept = $@ unless $@; $r }",
                            TRUE);
        SvREFCNT_inc_simple_void_NN(s.wrapper);
        s.error = get_sv("error", 0);
        s.globs[0] = gv_fetchpv("host_plugin_hook", GV_ADD, SVt_PVCV);
        s.globs[1] = gv_fetchpv("service_plugin_hook", GV_ADD, SVt_PVCV);
        s.arg = newSV(0);
    }
    return s;
}

void text(int kind, char *buf)
{
    dTHX;
    wrapper_state &s = state();
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    size_t n = strlen(buf);
    sv_setpvn(s.arg, buf, n);
    EXTEND(SP, 2);
    PUSHs(reinterpret_cast<SV *>(s.globs[kind]));
    PUSHs(s.arg);
    PUTBACK;
    int count = call_sv(s.wrapper, G_EVAL | G_SCALAR);
    SPAGAIN;
    if (SvTRUE(ERRSV) || SvTRUE(s.error))
        abort();
    SV *r = count ? POPs : &PL_sv_undef;
    STRLEN len;
    const char *p = SvPV(r, len);
    memcpy(buf, p, len < n ? len : n);
    PUTBACK;
    FREETMPS;
    LEAVE;
}

}  // namespace wrapper

void BM_text_hooks_perl_wrapper(benchmark::State &state) { text_calls(state, wrapper::text); }
BENCHMARK(BM_text_hooks_perl_wrapper)->Unit(benchmark::kMillisecond);

// The texts the selection builds: "host output" and "host host description output".
void BM_regex_hook(benchmark::State &state)
{
    bench_start();
    fixture_texts t = read_fixture();
    std::vector<std::string> texts;
    for (size_t i = 0; i < t.names.size(); i++) {
        std::string host = t.names[i].substr(0, t.names[i].find(' '));
        texts.push_back(host + " " + t.names[i] + " " + t.outputs[i % t.outputs.size()]);
    }
    const char *pattern = state.range(0) == 0 ? "web" : "^(app|db)-0[1-3] .*(CRITICAL|WARNING)";
    int shown = 0;
    for (auto _ : state) {
        size_t i = 0;
        for (int call = 0; call < REGEX_CALLS; call++) {
            shown += perl_regex_hook(texts[i].c_str(), pattern, call & 1) == 0;
            i = (i + 1) % texts.size();
        }
    }
    benchmark::DoNotOptimize(shown);
    state.counters["us_per_call"] = benchmark::Counter(
        REGEX_CALLS / 1e6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_regex_hook)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_regex_hook_floor(benchmark::State &state)
{
    bench_start();
    fixture_texts t = read_fixture();
    std::vector<std::string> texts;
    for (size_t i = 0; i < t.names.size(); i++) {
        std::string host = t.names[i].substr(0, t.names[i].find(' '));
        texts.push_back(host + " " + t.names[i] + " " + t.outputs[i % t.outputs.size()]);
    }
    const char *pattern = state.range(0) == 0 ? "web" : "^(app|db)-0[1-3] .*(CRITICAL|WARNING)";
    int shown = 0;
    for (auto _ : state) {
        size_t i = 0;
        for (int call = 0; call < REGEX_CALLS; call++) {
            shown += bench_floor::regex(texts[i].c_str(), pattern, call & 1) == 0;
            i = (i + 1) % texts.size();
        }
    }
    benchmark::DoNotOptimize(shown);
    state.counters["us_per_call"] = benchmark::Counter(
        REGEX_CALLS / 1e6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_regex_hook_floor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
