// SPDX-License-Identifier: GPL-2.0-or-later
#include "harness.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "frame/frame.h"
#include "quelvan.h"

namespace fs = std::filesystem;

const char *const PASS_THROUGH_HOOK = R"PERL(
sub host_plugin_hook { return $_[0]; }
sub service_plugin_hook { return $_[0]; }
sub regex_hook {
    my ($text, $pattern, $mode) = @_;
    my $match = eval { $text =~ /$pattern/ };
    if ($@) { $@ = ''; return 0; }
    return $mode == 0 ? !$match : $match;
}
1;
)PERL";

namespace {

std::string harness_in(const std::string &dir, const char *path)
{
    if (path[0] == '/') {
        ADD_FAILURE() << "the tests need a build whose file paths are relative (configure with "
                         "-DQUELVAN_CONFIG_DIR=etc -DQUELVAN_STATUS_FILE=status.dat); "
                      << path << " is absolute";
        return path;
    }
    return dir + "/" + path;
}

std::string harness_tmux(const tty &t, const std::string &args)
{
    return harness_sh("tmux -L " + t.socket + " " + args + " 2>/dev/null");
}

}  // namespace

bool harness_poll(const std::function<bool()> &done, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void harness_pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string harness_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string harness_sh(const std::string &cmd, int *status)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = pclose(p);
    if (status)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

std::string harness_no_leaks_env()
{
    const char *asan = getenv("ASAN_OPTIONS");
    return harness_quote("ASAN_OPTIONS=" + std::string(asan ? asan : "") + (asan ? ":" : "") +
                         "detect_leaks=0");
}

int count_of(const std::string &text, const std::string &what)
{
    if (what.empty())
        return 0;
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        n++;
    return n;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HARNESS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HARNESS_ASAN 1
#endif

#ifdef HARNESS_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
size_t harness_heap_in_use() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t harness_heap_in_use()
{
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}
#endif

void expect_fatal(const std::function<void()> &what, const std::string &out_text)
{
    const auto *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char &c : name)
        if (c == '/')
            c = '_';
    const std::string out = std::string(QUELVAN_WORK_DIR) + "/" + name + ".fatal.txt";
    fs::create_directories(QUELVAN_WORK_DIR);
    unlink(out.c_str());
    EXPECT_EXIT(
        {
            if (!freopen(out.c_str(), "w", stdout))
                _exit(99);
            what();
            _exit(0);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_file(out), out_text);
}

std::string test_dir()
{
    const auto *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char &c : name)
        if (c == '/')
            c = '_';
    fs::path dir = fs::path(QUELVAN_WORK_DIR) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

void write_file(const std::string &path, const std::string &content)
{
    fs::path p(path);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string status_path(const std::string &dir) { return harness_in(dir, status_file_path); }
std::string hook_path(const std::string &dir) { return harness_in(dir, hook_script_path); }
std::string help_path(const std::string &dir) { return harness_in(dir, help_file_path); }
std::string system_rc_path_in(const std::string &dir) { return harness_in(dir, system_rc_path); }

void write_defaults(const std::string &dir, const std::string &status, const std::string &hook)
{
    write_file(hook_path(dir), hook);
    write_file(help_path(dir), "quelvan help\nq  quit\n");
    if (!status.empty())
        write_file(status_path(dir), status);
}

std::string status_file(long created, const std::string &stanzas)
{
    return "########################################\n"
           "#          NAGIOS STATUS FILE\n"
           "########################################\n\n"
           "info {\n\tcreated=" + std::to_string(created) + "\n\tversion=4.4.6\n\t}\n\n"
           "programstatus {\n\tnagios_pid=1\n\t}\n\n" + stanzas;
}

std::string host_stanza(const std::string &name, int state, const std::string &output,
                        long last_state_change)
{
    return "hoststatus {\n"
           "\thost_name=" + name + "\n"
           "\tmodified_attributes=0\n"
           "\thas_been_checked=1\n"
           "\tcurrent_state=" + std::to_string(state) + "\n"
           "\tlast_hard_state=0\n"
           "\tplugin_output=" + output + "\n"
           "\tlong_plugin_output=\n"
           "\tperformance_data=\n"
           "\tlast_check=0\n"
           "\tlast_state_change=" + std::to_string(last_state_change) + "\n"
           "\tlast_hard_state_change=0\n"
           "\tscheduled_downtime_depth=0\n"
           "\t}\n\n";
}

std::string service_stanza(const std::string &host, const std::string &description, int state,
                           const std::string &output, long last_state_change)
{
    return "servicestatus {\n"
           "\thost_name=" + host + "\n"
           "\tservice_description=" + description + "\n"
           "\tmodified_attributes=0\n"
           "\thas_been_checked=1\n"
           "\tcurrent_state=" + std::to_string(state) + "\n"
           "\tlast_hard_state=0\n"
           "\tlast_check=0\n"
           "\tlast_state_change=" + std::to_string(last_state_change) + "\n"
           "\tlast_hard_state_change=0\n"
           "\tplugin_output=" + output + "\n"
           "\tlong_plugin_output=\n"
           "\tperformance_data=\n"
           "\t}\n\n";
}

std::string real_status_path() { return std::string(QUELVAN_SOURCE_DIR) + "/sample/status.dat"; }

std::string fixture_path(const std::string &name)
{
    if (name == "nagios4-status.dat")
        return real_status_path();
    return std::string(QUELVAN_SOURCE_DIR) + "/tests/fixtures/" + name;
}

run_result run_quelvan(const std::string &dir, const std::vector<std::string> &args,
                       const env_list &env, int timeout_ms)
{
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        return {-1, "", "pipe failed"};
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        setenv("HOME", dir.c_str(), 1);
        setenv("TZ", "UTC", 1);
        for (const auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(QUELVAN_BINARY));
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(QUELVAN_BINARY, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    run_result r{-1, "", ""};
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int open_fds = 2;
    while (open_fds > 0) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0)
            break;
        if (poll(fds, 2, left) <= 0)
            continue;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_fds--;
            }
        }
    }
    int status = 0;
    if (open_fds > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        for (auto &f : fds)
            if (f.fd >= 0)
                close(f.fd);
        return r;
    }
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

tty::tty(tty &&other) noexcept
    : socket(std::move(other.socket)), dir(std::move(other.dir)),
      socket_path(std::move(other.socket_path))
{
    other.socket.clear();
    other.socket_path.clear();
}

tty::~tty()
{
    if (!socket.empty())
        harness_tmux(*this, "kill-server");
    // The server leaves its socket file behind.
    if (!socket_path.empty())
        unlink(socket_path.c_str());
}

void tty_launch(tty &t, const std::string &prefix, const std::string &dir,
                const std::string &cmd, int cols, int rows)
{
    static std::atomic<int> counter{0};
    t.socket = prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    t.dir = dir;
    const std::string conf = dir + "/tmux.conf";
    write_file(conf, "set -g remain-on-exit on\nset -g status off\nset -g escape-time 0\n"
                     "set -g default-terminal screen\n");
    harness_sh("tmux -L " + t.socket + " -f " + harness_quote(conf) + " new-session -d -s q -x " +
               std::to_string(cols) + " -y " + std::to_string(rows) + " " + harness_quote(cmd) +
               " 2>&1");
    t.socket_path = harness_tmux(t, "display-message -p '#{socket_path}'");
    while (!t.socket_path.empty() && t.socket_path.back() == '\n')
        t.socket_path.pop_back();
    // The destructor ends the server; this guard ends it when the test
    // program is gone without one (a crash, or ctest's kill at its timeout).
    // It runs in a session of its own, so that a kill of the test's process
    // group does not take it along.
    const std::string guard = "while kill -0 " + std::to_string(getpid()) +
                              " 2>/dev/null && tmux -L " + t.socket +
                              " has-session 2>/dev/null; do sleep 1; done; tmux -L " +
                              t.socket + " kill-server 2>/dev/null; rm -f " +
                              harness_quote(t.socket_path);
    harness_sh("setsid sh -c " + harness_quote(guard) + " </dev/null >/dev/null 2>&1 &");
}

tty tty_start(const std::string &dir, const std::vector<std::string> &args, int cols, int rows,
              const env_list &env)
{
    std::string cmd = "cd " + harness_quote(dir) + " && exec env HOME=" + harness_quote(dir) +
                      " TZ=UTC LANG=C.UTF-8";
    // Appended in two steps: " " + std::string makes gcc 12 at -O3 warn,
    // falsely, of overlapping copies (restrict).
    for (const auto &[k, v] : env)
        cmd.append(" ").append(harness_quote(k + "=" + v));
    cmd.append(" ").append(harness_quote(QUELVAN_BINARY));
    for (const auto &a : args)
        cmd.append(" ").append(harness_quote(a));
    cmd += " 2>" + harness_quote(dir + "/stderr.txt");
    tty t;
    tty_launch(t, "quelvan-test", dir, cmd, cols, rows);
    return t;
}

std::string tty_screen(const tty &t, bool colours)
{
    return harness_tmux(t, std::string("capture-pane -p") + (colours ? " -e" : "") + " -t q");
}

std::string tty_row(const tty &t, int r)
{
    std::istringstream s(tty_screen(t));
    std::string row;
    for (int i = 0; i <= r; i++)
        if (!std::getline(s, row))
            return "";
    row.erase(row.find_last_not_of(' ') + 1);
    return row;
}

bool tty_wait(const tty &t, const std::string &text, int timeout_ms)
{
    return harness_poll([&] { return tty_screen(t).find(text) != std::string::npos; }, timeout_ms);
}

bool tty_wait_gone(const tty &t, const std::string &text, int timeout_ms)
{
    return harness_poll([&] { return tty_screen(t).find(text) == std::string::npos; }, timeout_ms);
}

bool tty_wait_row(const tty &t, int r, const std::string &text, int timeout_ms)
{
    return harness_poll([&] { return tty_row(t, r) == text; }, timeout_ms);
}

bool tty_wait_in_row(const tty &t, int r, const std::string &text, int timeout_ms)
{
    return harness_poll([&] { return tty_row(t, r).find(text) != std::string::npos; }, timeout_ms);
}

void tty_type(const tty &t, const std::string &text)
{
    harness_tmux(t, "send-keys -t q -l " + harness_quote(text));
}

void tty_keys(const tty &t, const std::vector<std::string> &names)
{
    std::string cmd = "send-keys -t q";
    for (const auto &n : names)
        cmd.append(" ").append(harness_quote(n));
    harness_tmux(t, cmd);
}

void tty_resize(const tty &t, int cols, int rows)
{
    harness_tmux(t, "resize-window -t q -x " + std::to_string(cols) + " -y " +
                        std::to_string(rows));
}

int tty_wait_exit(const tty &t, int timeout_ms)
{
    int result = -1;
    harness_poll([&] {
        std::string s = harness_tmux(
            t, "display-message -p -t q '#{pane_dead} #{pane_pid} #{pane_dead_status}'");
        int dead = 0, pid = 0, status = -1;
        if (sscanf(s.c_str(), "%d %d %d", &dead, &pid, &status) >= 2 && dead == 1) {
            if (status >= 0) {
                result = status;
                return true;
            }
            // The pane is dead but tmux has not reaped the process (it
            // sometimes never does): the zombie still holds its status.
            std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
            size_t end = stat.rfind(')');
            if (end != std::string::npos && stat.compare(end, 4, ") Z ") == 0) {
                std::istringstream fields(stat.substr(end + 2));
                std::string field;
                int wait_status = -1;
                for (int i = 3; i <= 52 && fields >> field; i++)
                    if (i == 52)
                        wait_status = atoi(field.c_str());
                if (wait_status >= 0 && WIFEXITED(wait_status)) {
                    result = WEXITSTATUS(wait_status);
                    return true;
                }
            }
        }
        return false;
    }, timeout_ms);
    return result;
}

std::string tty_stderr(const tty &t) { return read_file(t.dir + "/stderr.txt"); }

bool tty_wait_stderr(const tty &t, const std::string &text, int times, int timeout_ms)
{
    return harness_poll([&] { return count_of(tty_stderr(t), text) >= times; }, timeout_ms);
}

std::string tty_query(const tty &t, const std::string &format)
{
    std::string s = harness_tmux(t, "display-message -p -t q " + harness_quote(format));
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

std::string tty_cursor(const tty &t) { return tty_query(t, "#{cursor_y},#{cursor_x}"); }

void apply_options(std::vector<std::string> args)
{
    args.insert(args.begin(), "quelvan");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    optind = 0;  // glibc: start a new scan
    frame_options(static_cast<int>(args.size()), argv.data());
}
