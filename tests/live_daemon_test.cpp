// The console beside a live Nagios 4 daemon: the daemon runs our own object
// configuration (tests/live/objects.cfg.in), whose checks are a script that
// prints a given text and ends with a given status, and the console reads
// the status file that the daemon writes.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

const char *const NAGIOS_BIN = "/usr/sbin/nagios4";

void live_sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// One hoststatus or servicestatus stanza of the daemon's status file.
struct live_stanza {
    std::string kind;  // "hoststatus" or "servicestatus"
    std::map<std::string, std::string> keys;
};

struct live_status {
    long created = 0;
    std::vector<live_stanza> stanzas;

    const live_stanza *find(const std::string &host, const std::string &service = "") const
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
};

live_status live_parse(const std::string &text)
{
    live_status st;
    std::istringstream in(text);
    std::string line;
    live_stanza *cur = nullptr;
    bool in_info = false;
    while (std::getline(in, line)) {
        if (line == "info {") {
            in_info = true;
            continue;
        }
        if (line == "hoststatus {" || line == "servicestatus {") {
            st.stanzas.push_back({line.substr(0, line.size() - 2), {}});
            cur = &st.stanzas.back();
            continue;
        }
        if (line == "\t}") {
            cur = nullptr;
            in_info = false;
            continue;
        }
        size_t eq = line.find('=');
        if (line.empty() || line[0] != '\t' || eq == std::string::npos)
            continue;
        std::string key = line.substr(1, eq - 1), value = line.substr(eq + 1);
        if (in_info && key == "created")
            st.created = atol(value.c_str());
        else if (cur)
            cur->keys[key] = value;
    }
    return st;
}

// What stops a live test from running here, or "" when nothing does.
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

// The processes that work for the run directory run: the daemon's check
// workers run in process groups of their own and are found by the directory
// on their command line.
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

// A Nagios daemon of its own, in a run directory of its own under /tmp (the
// nagios user must reach it, which a checkout under /root would not allow).
// It is stopped by its process id when the object goes, and, should the test
// program die first, by a guard process that waits for the program's end.
class live_daemon {
public:
    explicit live_daemon(const std::string &test_dir) : log_copy_(test_dir + "/nagios.log")
    {
        char tmpl[] = "/tmp/quelvan-live-XXXXXX";
        if (!mkdtemp(tmpl)) {
            ADD_FAILURE() << "mkdtemp: " << strerror(errno);
            return;
        }
        run_ = tmpl;
        std::string script = std::string(QUELVAN_SOURCE_DIR) + "/tests/live/start-nagios";
        std::string out = test_dir + "/daemon.out";
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            int null = open("/dev/null", O_RDONLY);
            dup2(null, 0);
            execl("/bin/sh", "sh", script.c_str(), run_.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) {
            ADD_FAILURE() << "fork: " << strerror(errno);
            return;
        }
        start_guard();
    }

    ~live_daemon()
    {
        stop();
        if (guard_fd_ >= 0) {
            close(guard_fd_);  // the guard finds nothing left to stop
            waitpid(guard_pid_, nullptr, 0);
        }
    }

    live_daemon(const live_daemon &) = delete;
    live_daemon &operator=(const live_daemon &) = delete;

    const std::string &run_dir() const { return run_; }
    std::string status_path() const { return run_ + "/status.dat"; }

    // Waits until the daemon has written a status file for which ready()
    // holds, written after every check that it waited for had its result.
    bool wait_for(const std::function<bool(const live_status &)> &ready, int timeout_ms,
                  live_status *seen = nullptr)
    {
        for (int waited = 0; waited <= timeout_ms; waited += 100) {
            if (running()) {
                live_status st = live_parse(read_file(status_path()));
                if (seen)
                    *seen = st;
                if (!st.stanzas.empty() && ready(st))
                    return true;
            } else {
                return false;
            }
            live_sleep(100);
        }
        return false;
    }

    // Sends an external command through the daemon's command file.
    bool send(const std::string &command)
    {
        std::string line = "[" + std::to_string(time(nullptr)) + "] " + command + "\n";
        for (int tries = 0; tries < 100; tries++) {
            int fd = open((run_ + "/nagios.cmd").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ssize_t n = write(fd, line.data(), line.size());
                close(fd);
                if (n == static_cast<ssize_t>(line.size()))
                    return true;
            }
            live_sleep(100);
        }
        return false;
    }

    bool running()
    {
        if (pid_ <= 0)
            return false;
        int status;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    std::string daemon_log() const { return read_file(run_ + "/nagios.log"); }

    void stop()
    {
        if (pid_ > 0) {
            stop_daemon(pid_, run_);
            pid_ = -1;
        }
        if (!run_.empty()) {
            std::error_code ec;
            fs::copy_file(run_ + "/nagios.log", log_copy_, fs::copy_options::overwrite_existing,
                          ec);
            fs::remove_all(run_, ec);
            run_.clear();
        }
    }

private:
    // Ends the daemon started as pid (its own process group) and every
    // process that it started for the run directory run.
    static void stop_daemon(pid_t pid, const std::string &run)
    {
        kill(pid, SIGTERM);
        bool gone = false;
        for (int i = 0; i < 200 && !gone; i++) {
            gone = waitpid(pid, nullptr, WNOHANG) == pid;
            if (!gone)
                usleep(50000);
        }
        if (!gone) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (pid_t worker : live_processes_of(run))
            kill(worker, SIGKILL);
    }

    void start_guard()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        pid_t daemon = pid_;
        std::string run = run_;
        guard_pid_ = fork();
        if (guard_pid_ == 0) {
            close(fds[1]);
            char c;
            while (read(fds[0], &c, 1) < 0 && errno == EINTR) {
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
            _exit(0);
        }
        close(fds[0]);
        if (guard_pid_ < 0) {
            close(fds[1]);
            return;
        }
        guard_fd_ = fds[1];
    }

    std::string run_;
    std::string log_copy_;
    pid_t pid_ = -1;
    pid_t guard_pid_ = -1;
    int guard_fd_ = -1;
};

#define LIVE_SKIP_UNLESS_POSSIBLE()                                     \
    do {                                                                \
        std::string reason = live_skip_reason();                        \
        if (!reason.empty())                                            \
            GTEST_SKIP() << "no live Nagios daemon here: " << reason;   \
    } while (0)

const std::string LONG_CHUNK = "log line 0123456789 abcdefghij klmnopqrst uvwxyz.";

std::string repeat(const std::string &s, int n)
{
    std::string r;
    for (int i = 0; i < n; i++)
        r += s;
    return r;
}

// Every object has the result of its first check (or, for those without
// active checks, is still unchecked), and the host behind the gateway has
// been found unreachable.
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

TEST(LiveDaemon, StatusFileHoldsTheConfiguredStates)
{
    LIVE_SKIP_UNLESS_POSSIBLE();
    const std::string dir = test_dir();
    live_daemon nagios(dir);
    live_status st;
    ASSERT_TRUE(nagios.wait_for(live_all_checked, 60000, &st))
        << read_file(dir + "/daemon.out") << nagios.daemon_log();

    struct expect_row {
        std::string host, service, state, output;
    };
    const expect_row rows[] = {
        {"web-01", "", "0", "PING OK rta=0.5 ms"},
        {"db-01", "", "0", "PING OK   rta=0.7 ms"},
        {"gw-down", "", "1", "PING CRITICAL all lost"},
        {"app-behind", "", "2", "PING CRITICAL no route"},
        {"cache-new", "", "0", ""},
        {"web-01", "HTTP", "0", "HTTP OK size=512 bytes"},
        {"web-01", "TLS", "0", "gültig, läuft 30 Tage"},
        {"web-01", "Disk", "1", "DISK WARNING /var at 85 pct"},
        {"web-01", "Spool", "0", ""},
        {"db-01", "MySQL", "2", "CRITICAL   connection   refused"},
        {"db-01", "Backup", "3", "UNKNOWN no backup log"},
        {"db-01", "Log", "0", repeat(LONG_CHUNK, 40)},
        {"db-01", "Passive", "0", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.host + " " + r.service);
        const live_stanza *s = st.find(r.host, r.service);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->keys.at("current_state"), r.state);
        EXPECT_EQ(s->keys.at("plugin_output"), r.output);
    }
    // Never checked: no result and no state change yet.
    EXPECT_EQ(st.find("cache-new")->keys.at("last_state_change"), "0");
    EXPECT_EQ(st.find("db-01", "Passive")->keys.at("has_been_checked"), "0");
    EXPECT_GT(st.created, 0);

    // Nothing outside the run directory: no update check, no mail.
    EXPECT_EQ(nagios.daemon_log().find("update"), std::string::npos) << nagios.daemon_log();
}

TEST(LiveDaemon, PassiveResultReachesTheStatusFile)
{
    LIVE_SKIP_UNLESS_POSSIBLE();
    const std::string dir = test_dir();
    live_daemon nagios(dir);
    ASSERT_TRUE(nagios.wait_for(live_all_checked, 60000))
        << read_file(dir + "/daemon.out") << nagios.daemon_log();
    ASSERT_TRUE(nagios.send("PROCESS_SERVICE_CHECK_RESULT;db-01;Passive;2;PASSIVE CRITICAL sent"));
    EXPECT_TRUE(nagios.wait_for(
        [](const live_status &st) {
            const live_stanza *s = st.find("db-01", "Passive");
            return s && s->keys.at("current_state") == "2" &&
                   s->keys.at("plugin_output") == "PASSIVE CRITICAL sent";
        },
        30000))
        << nagios.daemon_log();
}

TEST(LiveDaemon, StopEndsTheDaemonAndItsWorkers)
{
    LIVE_SKIP_UNLESS_POSSIBLE();
    const std::string dir = test_dir();
    live_daemon nagios(dir);
    ASSERT_TRUE(nagios.wait_for(live_all_checked, 60000))
        << read_file(dir + "/daemon.out") << nagios.daemon_log();
    const std::string run = nagios.run_dir();
    nagios.stop();
    EXPECT_FALSE(fs::exists(run));
    // No process is left that works for that run directory.
    bool left = true;
    for (int i = 0; i < 50 && left; i++) {
        left = !live_processes_of(run).empty();
        if (left)
            live_sleep(100);
    }
    EXPECT_FALSE(left);
}

}  // namespace
