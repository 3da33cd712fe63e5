// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers of the keyboard's terminal tests: everything the console sends to
// its terminal is kept in a log (tmux pipe-pane), so that a message that
// shows only for a fraction of a second, or a beep, is never missed however
// slowly the test itself is scheduled.
#ifndef TESTS_KEYS_TTY_H
#define TESTS_KEYS_TTY_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <thread>
#include <vector>

#include "harness.h"

class pane_log {
public:
    explicit pane_log(const tty &t) : path_(t.dir + "/pane.log")
    {
        write_file(path_, "");
        std::string cmd = "tmux -L " + t.socket + " pipe-pane -t q 'cat >> " + path_ + "'";
        if (std::system(cmd.c_str()) != 0)
            path_.clear();
    }

    // Forgets what was sent so far; since() and wait() look after this point.
    void mark() { mark_ = read_file(path_).size(); }

    std::string since() const
    {
        std::string all = read_file(path_);
        return all.size() > mark_ ? all.substr(mark_) : "";
    }

    // Waits until text has been sent since the mark.
    bool wait(const std::string &text, int timeout_ms = WAIT_MS) const
    {
        return harness_poll([&] { return since().find(text) != std::string::npos; }, timeout_ms);
    }

    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
    size_t mark_ = 0;
};

// Terminal output made readable for a failure message.
inline std::string printable(const std::string &sent)
{
    std::string s;
    for (char c : sent.substr(0, 600))
        s += c == '\x1b' ? std::string("^[") : c == '\a' ? std::string("^G") : std::string(1, c);
    return s;
}

inline int bells(const std::string &sent) { return static_cast<int>(std::count(sent.begin(), sent.end(), '\a')); }

// Presses keys by tmux name and then "z", which only beeps: once that beep
// has been sent, the keys before it are done. Returns what they sent.
inline std::string keys_then_beep(const tty &t, pane_log &log, const std::vector<std::string> &keys)
{
    log.mark();
    tty_keys(t, keys);
    tty_type(t, "z");
    if (!log.wait("\a"))
        return "(no beep after the keys)";
    std::string sent = log.since();
    return sent.substr(0, sent.find('\a'));
}

// Waits until row r reads text (trailing blanks dropped).
inline bool wait_row(const tty &t, int r, const std::string &text, int timeout_ms = WAIT_MS)
{
    return tty_wait_row(t, r, text, timeout_ms);
}


// Waits until the display-message format gives want.
inline bool wait_query(const tty &t, const std::string &format, const std::string &want,
                       int timeout_ms = WAIT_MS)
{
    return harness_poll([&] { return tty_query(t, format) == want; }, timeout_ms);
}

// n services of host "host" with the given state, last changed a minute
// before created, their outputs numbered from first.
inline std::string services(const std::string &prefix, int n, int state, long created,
                            const std::string &output = "output")
{
    std::string s;
    for (int i = 0; i < n; i++) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%02d", prefix.c_str(), i + 1);
        s += service_stanza("host", name, state, output + " " + name, created - 60);
    }
    return s;
}

// A FIFO that this test keeps open for reading, so that the console's
// non-blocking open finds a reader.
struct fifo_reader {
    std::string path;
    int fd = -1;
    explicit fifo_reader(const std::string &p) : path(p)
    {
        if (mkfifo(p.c_str(), 0600) == 0)
            fd = open(p.c_str(), O_RDONLY | O_NONBLOCK);
    }
    ~fifo_reader()
    {
        if (fd >= 0)
            close(fd);
    }
    std::string read_all() const
    {
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(n));
        return got;
    }
};

#endif
