// SPDX-License-Identifier: GPL-2.0-or-later
#include "live_daemons.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace fs = std::filesystem;

// --- either daemon ---

bool live_required()
{
    const char *ci = getenv("CI");
    return ci && strcmp(ci, "true") == 0;
}

std::vector<pid_t> live_processes_of(const std::string &run)
{
    std::vector<pid_t> found;
    if (run.empty())
        return found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent *e = readdir(proc)) {
        pid_t p = atoi(e->d_name);
        if (p <= 0)
            continue;
        std::string cmdline = read_file("/proc/" + std::string(e->d_name) + "/cmdline");
        for (char &c : cmdline)
            if (c == '\0')
                c = ' ';
        if (cmdline.find(run + "/") != std::string::npos)
            found.push_back(p);
    }
    closedir(proc);
    return found;
}

void live_guard_start(pid_t daemon, const std::string &run, pid_t *guard, int *fd)
{
    *guard = -1;
    *fd = -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    pid_t g = fork();
    if (g == 0) {
        // Holding no other guard's pipe, it keeps no other guard waiting.
        for (int other = 3; other < 1024; other++)
            if (other != fds[0])
                close(other);
        char c;
        ssize_t got;
        while ((got = read(fds[0], &c, 1)) < 0 && errno == EINTR) {
        }
        // The test program has ended or let go: stop whatever is left.
        if (kill(daemon, 0) == 0) {
            kill(daemon, SIGTERM);
            for (int i = 0; i < 100 && kill(daemon, 0) == 0; i++)
                usleep(50000);
            kill(-daemon, SIGKILL);
        }
        for (pid_t worker : live_processes_of(run))
            kill(worker, SIGKILL);
        // Ended without letting go: nothing else will remove the directory.
        if (got != 1) {
            std::error_code ec;
            fs::remove_all(run, ec);
        }
        _exit(0);
    }
    close(fds[0]);
    if (g < 0) {
        close(fds[1]);
        return;
    }
    *guard = g;
    *fd = fds[1];
}

void live_guard_end(pid_t *guard, int *fd)
{
    if (*fd >= 0) {
        // A byte, not only the close: a guard forked later may hold this
        // end of the pipe too.
        ssize_t n = write(*fd, "x", 1);
        (void)n;
        close(*fd);
        *fd = -1;
    }
    if (*guard > 0) {
        waitpid(*guard, nullptr, 0);
        *guard = -1;
    }
}

void live_stop_daemon(pid_t pid, const std::string &run)
{
    kill(pid, SIGTERM);
    const bool gone = harness_poll([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 10000);
    if (!gone) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    for (pid_t worker : live_processes_of(run))
        kill(worker, SIGKILL);
}

namespace {

// Starts script RUN [ARG] in its own process group, its output appended to
// out (or written anew); its process id, or -1.
pid_t live_spawn(const std::string &script, const std::string &run, const std::string &arg,
                 const std::string &out, bool append)
{
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        if (arg.empty())
            execl("/bin/sh", "sh", script.c_str(), run.c_str(), static_cast<char *>(nullptr));
        else
            execl("/bin/sh", "sh", script.c_str(), run.c_str(), arg.c_str(),
                  static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid < 0)
        ADD_FAILURE() << "fork: " << strerror(errno);
    return pid;
}

bool live_reap(pid_t *pid)
{
    if (*pid <= 0)
        return false;
    int status;
    if (waitpid(*pid, &status, WNOHANG) == *pid) {
        *pid = -1;
        return false;
    }
    return true;
}

}  // namespace

// --- Nagios 4 ---

const live_stanza *live_status::note(const std::string &kind, const std::string &host) const
{
    for (const auto &s : notes)
        if (s.kind == kind && s.keys.count("host_name") && s.keys.at("host_name") == host)
            return &s;
    return nullptr;
}

const live_stanza *live_status::find(const std::string &host, const std::string &service) const
{
    for (const auto &s : stanzas) {
        bool is_service = s.kind == "servicestatus";
        if (is_service != !service.empty() || s.keys.at("host_name") != host)
            continue;
        if (!is_service || s.keys.at("service_description") == service)
            return &s;
    }
    return nullptr;
}

live_status live_parse(const std::string &text)
{
    live_status st;
    std::istringstream in(text);
    std::string line;
    live_stanza *cur = nullptr;
    bool in_info = false, in_program = false;
    while (std::getline(in, line)) {
        if (line == "info {") {
            in_info = true;
            continue;
        }
        if (line == "programstatus {") {
            in_program = true;
            continue;
        }
        if (line == "hoststatus {" || line == "servicestatus {") {
            st.stanzas.push_back({line.substr(0, line.size() - 2), {}});
            cur = &st.stanzas.back();
            continue;
        }
        if (line == "hostcomment {" || line == "servicecomment {" || line == "hostdowntime {" ||
            line == "servicedowntime {") {
            st.notes.push_back({line.substr(0, line.size() - 2), {}});
            cur = &st.notes.back();
            continue;
        }
        if (line == "\t}") {
            cur = nullptr;
            in_info = in_program = false;
            continue;
        }
        size_t eq = line.find('=');
        if (line.empty() || line[0] != '\t' || eq == std::string::npos)
            continue;
        std::string key = line.substr(1, eq - 1), value = line.substr(eq + 1);
        if (in_info && key == "created")
            st.created = atol(value.c_str());
        else if (in_program && key == "program_start")
            st.program_start = atol(value.c_str());
        else if (cur)
            cur->keys[key] = value;
    }
    return st;
}

namespace {
const char *const NAGIOS_BIN = "/usr/sbin/nagios4";
const char *const ICINGA2_BIN = "/usr/sbin/icinga2";
}  // namespace

bool live_all_checked(const live_status &st)
{
    if (st.stanzas.size() != 13)
        return false;
    for (const auto &s : st.stanzas) {
        bool passive_only = s.keys.count("active_checks_enabled") &&
                            s.keys.at("active_checks_enabled") == "0";
        if (!passive_only && s.keys.at("has_been_checked") != "1")
            return false;
    }
    const live_stanza *behind = st.find("app-behind");
    return behind && behind->keys.at("current_state") == "2";
}

std::string live_skip_reason()
{
    if (geteuid() != 0)
        return "the daemon must be started as root (it drops to the nagios user)";
    if (access(NAGIOS_BIN, X_OK) != 0)
        return std::string(NAGIOS_BIN) + " is not installed (scripts/install-deps installs it)";
    if (!getpwnam("nagios"))
        return "there is no nagios user (the nagios4-core package makes it)";
    return "";
}

live_daemon::live_daemon(const std::string &test_dir) : log_copy_(test_dir + "/nagios.log")
{
    char tmpl[] = "/tmp/quelvan-live-XXXXXX";
    if (!mkdtemp(tmpl)) {
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
        return;
    }
    run_ = tmpl;
    pid_ = live_spawn(std::string(QUELVAN_SOURCE_DIR) + "/tests/live/start-nagios", run_, "",
                      test_dir + "/daemon.out", false);
    if (pid_ > 0)
        live_guard_start(pid_, run_, &guard_pid_, &guard_fd_);
}

live_daemon::~live_daemon()
{
    stop();
    live_guard_end(&guard_pid_, &guard_fd_);  // the guard finds nothing left to stop
}

bool live_daemon::wait_for(const std::function<bool(const live_status &)> &ready, int timeout_ms,
                           live_status *seen)
{
    bool ok = false;
    harness_poll([&] {
        if (!running())
            return true;  // nothing more will come
        live_status st = live_parse(read_file(status_path()));
        if (seen)
            *seen = st;
        ok = !st.stanzas.empty() && ready(st);
        return ok;
    }, timeout_ms);
    return ok;
}

bool live_daemon::send(const std::string &command)
{
    std::string line = "[" + std::to_string(time(nullptr)) + "] " + command + "\n";
    return harness_poll([&] {
        int fd = open((run_ + "/nagios.cmd").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        ssize_t n = write(fd, line.data(), line.size());
        close(fd);
        return n == static_cast<ssize_t>(line.size());
    });
}

bool live_daemon::running() { return live_reap(&pid_); }

std::string live_daemon::daemon_log() const { return read_file(run_ + "/nagios.log"); }

void live_daemon::stop()
{
    if (pid_ > 0) {
        live_stop_daemon(pid_, run_);
        pid_ = -1;
    }
    if (!run_.empty()) {
        std::error_code ec;
        fs::copy_file(run_ + "/nagios.log", log_copy_, fs::copy_options::overwrite_existing, ec);
        fs::remove_all(run_, ec);
        run_.clear();
    }
}

// --- Icinga 2 over Livestatus ---

std::string live_icinga_skip_reason()
{
    if (geteuid() != 0)
        return "the daemon must be started as root (it drops to the nagios user)";
    if (access(ICINGA2_BIN, X_OK) != 0)
        return std::string(ICINGA2_BIN) +
               " is not installed (scripts/install-deps installs icinga2-bin)";
    if (!getpwnam("nagios"))
        return "there is no nagios user (the icinga2-common package makes it)";
    return "";
}

namespace {

struct live_json_reader {
    const std::string &s;
    size_t at = 0;

    void blanks()
    {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t'))
            at++;
    }

    bool word(const char *w)
    {
        size_t n = strlen(w);
        if (s.compare(at, n, w) != 0)
            return false;
        at += n;
        return true;
    }

    static void utf8(unsigned cp, std::string &out)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xc0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xe0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        }
    }

    bool hex4(unsigned &cp)
    {
        if (at + 4 > s.size())
            return false;
        cp = 0;
        for (int i = 0; i < 4; i++) {
            char c = s[at++];
            cp <<= 4;
            if (c >= '0' && c <= '9')
                cp |= c - '0';
            else if (c >= 'a' && c <= 'f')
                cp |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                cp |= c - 'A' + 10;
            else
                return false;
        }
        return true;
    }

    bool string(std::string &out)
    {
        at++;  // the opening quote
        while (at < s.size()) {
            char c = s[at++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= s.size())
                return false;
            char e = s[at++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xd800 && cp < 0xdc00 && s.compare(at, 2, "\\u") == 0) {
                    at += 2;
                    unsigned low;
                    if (!hex4(low) || low < 0xdc00 || low >= 0xe000)
                        return false;
                    cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
                }
                utf8(cp, out);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    bool value(live_value &v, int depth)
    {
        blanks();
        if (at >= s.size() || depth > 64)
            return false;
        char c = s[at];
        if (c == '[') {
            v.kind = live_value::ARRAY;
            at++;
            blanks();
            if (at < s.size() && s[at] == ']') {
                at++;
                return true;
            }
            for (;;) {
                v.items.emplace_back();
                if (!value(v.items.back(), depth + 1))
                    return false;
                blanks();
                if (at < s.size() && s[at] == ',') {
                    at++;
                    continue;
                }
                if (at < s.size() && s[at] == ']') {
                    at++;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
            v.kind = live_value::STRING;
            return string(v.text);
        }
        for (const char *b : {"true", "false"})
            if (word(b)) {
                v.kind = live_value::BOOL;
                v.text = b;
                return true;
            }
        if (word("null")) {
            v.kind = live_value::NUL;
            v.text = "null";
            return true;
        }
        size_t from = at;
        while (at < s.size() && strchr("+-0123456789.eE", s[at]))
            at++;
        if (at == from)
            return false;
        v.kind = live_value::NUMBER;
        v.text = s.substr(from, at - from);
        return true;
    }
};

std::string live_value_text(const live_value &v)
{
    if (v.kind != live_value::ARRAY)
        return v.text;
    // Appended piece by piece: gcc 12's Release build takes a sum of
    // temporaries here for overlapping copies (-Wrestrict).
    std::string joined;
    for (size_t i = 0; i < v.items.size(); i++) {
        if (i > 0)
            joined += ',';
        joined += live_value_text(v.items[i]);
    }
    return joined;
}

}  // namespace

bool live_json_parse(const std::string &text, live_value &out)
{
    live_json_reader r{text};
    out = live_value();
    if (!r.value(out, 0))
        return false;
    r.blanks();
    return r.at == text.size();
}

bool live_fixed16(const std::string &reply, int *status, std::string *body)
{
    if (reply.size() < 16 || reply[3] != ' ' || reply[15] != '\n')
        return false;
    for (int i = 0; i < 3; i++)
        if (reply[i] < '0' || reply[i] > '9')
            return false;
    const std::string length = reply.substr(4, 11);
    const size_t digits = length.find_first_not_of(' ');
    if (digits == std::string::npos ||
        length.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    if (reply.size() - 16 != std::stoul(length.substr(digits)))
        return false;
    *status = std::stoi(reply.substr(0, 3));
    *body = reply.substr(16);
    return true;
}

std::vector<std::map<std::string, std::string>> live_rows(const std::string &reply,
                                                           const std::vector<std::string> &columns)
{
    int status = 0;
    std::string body;
    live_value table;
    if (!live_fixed16(reply, &status, &body) || status != 200 || !live_json_parse(body, table) ||
        table.kind != live_value::ARRAY)
        return {};
    std::vector<std::map<std::string, std::string>> rows;
    for (const auto &row : table.items) {
        if (row.kind != live_value::ARRAY || row.items.size() != columns.size())
            return {};
        std::map<std::string, std::string> r;
        for (size_t i = 0; i < columns.size(); i++)
            r[columns[i]] = live_value_text(row.items[i]);
        rows.push_back(r);
    }
    return rows;
}

int live_connect_unix(const std::string &path)
{
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int live_connect_tcp(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool live_send(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string live_receive(int fd, size_t n, int timeout_ms)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (n == std::string::npos || got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buf[65536];
        const size_t want = n == std::string::npos ? sizeof buf : std::min(sizeof buf, n - got.size());
        ssize_t r = read(fd, buf, want);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;  // the peer's end, or an error: nothing more comes
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

std::string live_exchange(int fd, const std::string &request, int timeout_ms)
{
    if (fd < 0)
        return "";
    std::string reply;
    if (live_send(fd, request)) {
        shutdown(fd, SHUT_WR);
        reply = live_receive(fd, std::string::npos, timeout_ms);
    }
    close(fd);
    return reply;
}

namespace {

// A TCP port of 127.0.0.1 that nothing listens on now, or 0.
int live_free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

const std::vector<std::string> READY_HOST_COLUMNS = {"host_name", "state", "has_been_checked"};
const std::vector<std::string> READY_SERVICE_COLUMNS = {
    "host_name", "description", "state", "has_been_checked", "acknowledged",
    "scheduled_downtime_depth"};

std::string live_request(const std::string &table, const std::vector<std::string> &columns)
{
    std::string request = "GET " + table + "\nColumns:";
    for (const auto &c : columns)
        request += " " + c;
    return request + "\nOutputFormat: json\nResponseHeader: fixed16\n\n";
}

}  // namespace

live_icinga::live_icinga(const std::string &test_dir, bool tcp) : test_dir_(test_dir)
{
    char tmpl[] = "/tmp/quelvan-icinga-XXXXXX";
    if (!mkdtemp(tmpl)) {
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
        return;
    }
    run_ = tmpl;
    if (tcp && (port_ = live_free_port()) == 0)
        ADD_FAILURE() << "no free TCP port on 127.0.0.1";
    start();
}

live_icinga::~live_icinga()
{
    stop();
    if (!run_.empty()) {
        std::error_code ec;
        fs::copy_file(run_ + "/log/icinga2.log", test_dir_ + "/icinga2.log",
                      fs::copy_options::overwrite_existing, ec);
        fs::remove_all(run_, ec);
    }
}

bool live_icinga::start()
{
    if (run_.empty() || running())
        return false;
    pid_ = live_spawn(std::string(QUELVAN_SOURCE_DIR) + "/tests/live/start-icinga2", run_,
                      port_ ? std::to_string(port_) : "", test_dir_ + "/icinga2.out", true);
    if (pid_ <= 0)
        return false;
    live_guard_start(pid_, run_, &guard_pid_, &guard_fd_);
    return true;
}

void live_icinga::stop()
{
    if (pid_ > 0) {
        live_stop_daemon(pid_, run_);
        pid_ = -1;
    }
    live_guard_end(&guard_pid_, &guard_fd_);
}

bool live_icinga::running() { return live_reap(&pid_); }

std::string live_icinga::query(const std::string &request)
{
    return live_exchange(live_connect_unix(socket_path()), request, WAIT_MS);
}

std::string live_icinga::query_tcp(const std::string &request)
{
    return port_ ? live_exchange(live_connect_tcp(port_), request, WAIT_MS) : "";
}

bool live_icinga::command(const std::string &line)
{
    int fd = live_connect_unix(socket_path());
    if (fd < 0)
        return false;
    const bool sent =
        live_send(fd, "COMMAND [" + std::to_string(time(nullptr)) + "] " + line + "\n\n");
    shutdown(fd, SHUT_WR);
    // The daemon closes once it has read the command.
    live_receive(fd, std::string::npos, WAIT_MS);
    close(fd);
    return sent;
}

bool live_icinga::wait_for(const std::string &request,
                           const std::function<bool(const std::string &)> &ready, int timeout_ms,
                           std::string *seen)
{
    bool ok = false;
    harness_poll([&] {
        if (!running())
            return true;  // nothing more will come
        const std::string reply = query(request);
        if (seen)
            *seen = reply;
        ok = ready(reply);
        return ok;
    }, timeout_ms);
    return ok;
}

bool live_icinga::wait_ready(int timeout_ms)
{
    const auto hosts_request = live_request("hosts", READY_HOST_COLUMNS);
    const auto services_request = live_request("services", READY_SERVICE_COLUMNS);
    std::vector<std::map<std::string, std::string>> services;
    // Every object with active checks has its first result, and the host
    // behind the gateway has been found unreachable.
    auto checked = [&] {
        if (!running())
            return true;
        auto hosts = live_rows(query(hosts_request), READY_HOST_COLUMNS);
        services = live_rows(query(services_request), READY_SERVICE_COLUMNS);
        if (hosts.size() != 5 || services.size() != 8)
            return false;
        for (const auto &h : hosts)
            if ((h.at("has_been_checked") == "1") == (h.at("host_name") == "ice-new") ||
                (h.at("host_name") == "ice-behind" && h.at("state") != "2"))
                return false;
        for (const auto &s : services)
            if ((s.at("has_been_checked") == "1") == (s.at("description") == "Spool"))
                return false;
        return true;
    };
    auto service = [&](const std::string &description) -> std::map<std::string, std::string> {
        for (const auto &s : services)
            if (s.at("description") == description)
                return s;
        return {};
    };
    auto marked = [&] {
        return service("Queue")["acknowledged"] == "true" &&
               service("Cert")["scheduled_downtime_depth"] == "1";
    };
    if (!harness_poll(checked, timeout_ms) || !running())
        return false;
    if (marked())
        return true;  // kept in the state of an earlier start
    const long now = time(nullptr);
    if (service("Queue")["acknowledged"] != "true" &&
        !command("ACKNOWLEDGE_SVC_PROBLEM;ice-db;Queue;2;0;1;tester;known queue backlog"))
        return false;
    if (service("Cert")["scheduled_downtime_depth"] == "0" &&
        !command("SCHEDULE_SVC_DOWNTIME;ice-web;Cert;" + std::to_string(now - 60) + ";" +
                 std::to_string(now + 86400) + ";1;0;86400;planner;certificate renewal"))
        return false;
    return harness_poll([&] {
        if (!running())
            return true;
        services = live_rows(query(services_request), READY_SERVICE_COLUMNS);
        return marked();
    }, timeout_ms) && running();
}

std::string live_icinga::daemon_log() const
{
    return run_.empty() ? "" : read_file(run_ + "/log/icinga2.log");
}

std::string live_icinga::daemon_output() const { return read_file(test_dir_ + "/icinga2.out"); }
