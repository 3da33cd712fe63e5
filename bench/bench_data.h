// SPDX-License-Identifier: GPL-2.0-or-later
// The data of the scale benchmarks: a status file at full capacity in the
// daemon's own layout, made once, and a directory laid out as the console
// expects its files (the shipped sample hook script, help and configuration).
//
// The file holds 250,000 hosts and 250,000 services: every stanza of the
// real Nagios 4 file, cycled with new host names and last state changes of
// their own (kept 0 where the daemon wrote 0), about 680 MB. It lives in
// QUELVAN_BENCH_DIR, or status-bench in the working directory.
#ifndef BENCH_BENCH_DATA_H
#define BENCH_BENCH_DATA_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quelvan.h"

namespace bench_data {

namespace fs = std::filesystem;

constexpr long CREATED = 1796851832;  // the file's creation time

inline std::string read_all(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline std::vector<std::string> stanzas(const std::string &file, const std::string &header)
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
inline void write_stanza(FILE *f, const std::string &s, long n)
{
    std::istringstream in(s);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("\thost_name=", 0) == 0) {
            fprintf(f, "%s-%ld\n", line.c_str(), n);
        } else if (line.rfind("\tlast_state_change=", 0) == 0 && line != "\tlast_state_change=0") {
            fprintf(f, "\tlast_state_change=%ld\n", CREATED - (n * 7919 + 13) % (400L * 86400));
        } else {
            fputs(line.c_str(), f);
            fputc('\n', f);
        }
    }
    fputc('\n', f);
}

inline const std::string &dir()
{
    static const std::string d = [] {
        const char *env = getenv("QUELVAN_BENCH_DIR");
        return fs::absolute(env ? env : "status-bench").string();
    }();
    return d;
}

// The directory of the file with count hosts and count services: dir() at
// full capacity, a directory inside it for smaller sizes.
inline std::string dir_for(long count)
{
    return count >= MAX_ITEMS ? dir() : dir() + "/items-" + std::to_string(count);
}

// Makes status.dat with count hosts and count services (full capacity by
// default) unless it is there already, and puts the shipped sample files
// under etc/ beside it.
inline void make(long count = MAX_ITEMS)
{
    const std::string d = dir_for(count);
    fs::create_directories(d + "/etc");
    const std::string sample = std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/";
    for (const char *name : {"quelvan.pl", "quelvan.help", "quelvanrc"})
        fs::copy_file(sample + name, d + "/etc/" + name, fs::copy_options::overwrite_existing);
    const std::string path = d + "/status.dat";
    if (fs::exists(path))
        return;
    const std::string file =
        read_all(std::string(QUELVAN_SOURCE_DIR) + "/sample/status.dat");
    const std::vector<std::string> hosts = stanzas(file, "hoststatus");
    const std::vector<std::string> services = stanzas(file, "servicestatus");
    const std::string tmp = path + ".part";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f) {
        perror(tmp.c_str());
        exit(1);
    }
    // Everything up to the first host stanza as it stands: info, programstatus.
    fputs(file.substr(0, file.find("\nhoststatus {\n") + 1).c_str(), f);
    for (long i = 0; i < count; i++)
        write_stanza(f, hosts[static_cast<size_t>(i) % hosts.size()], i);
    for (long i = 0; i < count; i++)
        write_stanza(f, services[static_cast<size_t>(i) % services.size()], i);
    fclose(f);
    fs::rename(tmp, path);
}

// Seconds that `wc -l` takes over path.
inline double wc_seconds(const std::string &path)
{
    auto start = std::chrono::steady_clock::now();
    std::string cmd = "wc -l < '" + path + "' > /dev/null";
    if (system(cmd.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench_data

#endif
