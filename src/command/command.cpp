// SPDX-License-Identifier: GPL-2.0-or-later
// Commands to the daemon. Each is one line "[TIME] NAME;arguments\n" written
// to the daemon's command pipe in a single write of at most PIPE_BUF bytes,
// which a pipe takes whole or not at all, so that no other writer's line can
// get into it. A line that cannot be sent whole and safe is refused.
#include "command/command.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <string_view>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "livestatus/livestatus.h"
#include "quelvan.h"

namespace {

// The bytes of the control character at p (C0, DEL, or C1 written in
// UTF-8, kept whole), or 0 when p holds none.
size_t command_control_at(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    if (u[0] < 0x20 || u[0] == 0x7f)
        return 1;
    if (u[0] == 0xc2 && u[1] >= 0x80 && u[1] <= 0x9f)
        return 2;
    return 0;
}

// A name can only be addressed when the daemon reads it back as it is: a ';'
// would end it and a line end would end the command.
bool command_name_ok(const char *name, const char *what, std::string &why)
{
    if (!name || !*name) {
        why = std::string("the ") + what + " is empty: nothing sent";
        return false;
    }
    for (const char *p = name; *p; p++) {
        if (*p == ';' || command_control_at(p)) {
            why = std::string("the ") + what + " holds a ';' or a control character: nothing sent";
            return false;
        }
    }
    return true;
}

// The comment as the daemon may read it: a downtime's comment, which ends at
// the next ';', loses its ';'s, and then every control character becomes a
// blank (in that order, so that a removal cannot join two bytes into a
// control character). Other bytes, a multi-byte character's among them,
// stay as they are. False when nothing but blanks is left.
bool command_comment(const char *comment, bool drop_semicolons, std::string &out,
                     std::string &why)
{
    std::string kept;
    for (const char *p = comment ? comment : ""; *p; p++)
        if (!(drop_semicolons && *p == ';'))
            kept += *p;
    out.clear();
    bool text = false;
    for (const char *p = kept.c_str(); *p;) {
        if (size_t n = command_control_at(p)) {
            out += ' ';
            p += n;
            continue;
        }
        text = text || *p != ' ';
        out += *p++;
    }
    if (!text)
        why = "no comment: nothing sent";
    return text;
}

std::string command_group_name(gid_t gid)
{
    const group *g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

// Why the pipe at path may not be written, with what would allow it: the
// group of the pipe, or of the first directory on the way that shuts the
// user out.
std::string command_denied(const std::string &path)
{
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        std::string dir = path.substr(0, at);
        struct stat st;
        if (access(dir.c_str(), X_OK) != 0 && stat(dir.c_str(), &st) == 0)
            return "no permission to reach " + path + ": " + dir +
                   ((st.st_mode & S_IXGRP) ? " is for the group " + command_group_name(st.st_gid)
                                           : std::string(" lets in only its owner"));
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWGRP))
        return "no permission to write " + path + ": it is for the group " +
               command_group_name(st.st_gid);
    return "no permission to write " + path;
}

const char *command_kind(mode_t mode)
{
    return S_ISREG(mode)    ? "a regular file"
           : S_ISDIR(mode)  ? "a directory"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
           : S_ISSOCK(mode) ? "a socket"
                            : "not a pipe";
}

// The one write, with SIGPIPE held back: a daemon that stops reading between
// the open and the write is an error message, not the console's end.
ssize_t command_write(int fd, const std::string &line, int &error)
{
    sigset_t pipe_only, old;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
    sigset_t pending;
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE);
    ssize_t n = write(fd, line.data(), line.size());
    error = errno;
    if (n < 0 && error == EPIPE && !was_pending) {
        const timespec none{0, 0};
        sigtimedwait(&pipe_only, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return n;
}

std::string command_refused(const std::string &why)
{
    debug("command not sent: %s", why.c_str());
    return why;
}

}  // namespace

// Appends each field behind a ';'. Appended piece by piece: gcc 12 takes
// a sum of temporary strings for copies that may overlap (-Wrestrict).
static void command_fields(std::string &out, std::initializer_list<std::string_view> fields)
{
    for (std::string_view f : fields) {
        out += ';';
        out += f;
    }
}

bool command_build(int action, const char *host, const char *service, const char *author,
                   const char *comment, long long now, long long end, std::string &line,
                   std::string &why)
{
    const bool svc = service != nullptr;
    const char *name = nullptr;
    switch (action) {
    case ACTION_ACK: name = svc ? "ACKNOWLEDGE_SVC_PROBLEM" : "ACKNOWLEDGE_HOST_PROBLEM"; break;
    case ACTION_UNACK: name = svc ? "REMOVE_SVC_ACKNOWLEDGEMENT" : "REMOVE_HOST_ACKNOWLEDGEMENT"; break;
    case ACTION_DOWNTIME: name = svc ? "SCHEDULE_SVC_DOWNTIME" : "SCHEDULE_HOST_DOWNTIME"; break;
    case ACTION_CHECK: name = svc ? "SCHEDULE_FORCED_SVC_CHECK" : "SCHEDULE_FORCED_HOST_CHECK"; break;
    case ACTION_NOTIFY_OFF: name = svc ? "DISABLE_SVC_NOTIFICATIONS" : "DISABLE_HOST_NOTIFICATIONS"; break;
    case ACTION_NOTIFY_ON: name = svc ? "ENABLE_SVC_NOTIFICATIONS" : "ENABLE_HOST_NOTIFICATIONS"; break;
    default:
        why = "unknown action " + std::to_string(action) + ": nothing sent";
        return false;
    }
    if (!command_name_ok(host, "host name", why) ||
        (svc && !command_name_ok(service, "service description", why)))
        return false;

    std::string out = "[";
    out += std::to_string(now);
    out += "] ";
    out += name;
    command_fields(out, {host});
    if (svc)
        command_fields(out, {service});
    std::string text;
    if (action == ACTION_ACK || action == ACTION_DOWNTIME) {
        if (!command_name_ok(author, "login name", why) ||
            !command_comment(comment, action == ACTION_DOWNTIME, text, why))
            return false;
    }
    switch (action) {
    case ACTION_ACK:
        // Persistent, so that the comment outlives a restart of the daemon.
        command_fields(out, {ack_sticky ? "2" : "1", ack_notify ? "1" : "0", "1", author, text});
        break;
    case ACTION_DOWNTIME: {
        long long length;
        if (end <= now || __builtin_sub_overflow(end, now, &length)) {
            why = "the downtime would end before it starts: nothing sent";
            return false;
        }
        // Fixed, from now to end, triggered by nothing.
        command_fields(out, {std::to_string(now), std::to_string(end), "1", "0",
                             std::to_string(length), author, text});
        break;
    }
    case ACTION_CHECK:
        command_fields(out, {std::to_string(now)});
        break;
    }
    out += '\n';
    if (out.size() > PIPE_BUF) {
        why = "the command is " + std::to_string(out.size()) + " bytes, more than the " +
              std::to_string(PIPE_BUF) + " a pipe takes whole: nothing sent";
        return false;
    }
    line = std::move(out);
    return true;
}

std::string command_send(const char *path, const std::string &line)
{
    if (!path || !*path)
        return command_refused("commands are off (default command_file = none)");
    const std::string where = path;
    if (line.empty() || line.size() > PIPE_BUF || line.back() != '\n')
        return command_refused("not one whole command line of at most " +
                               std::to_string(PIPE_BUF) + " bytes: nothing sent");
    for (size_t i = 0; i + 1 < line.size(); i++)
        if (command_control_at(line.c_str() + i))
            return command_refused("a control character in the command: nothing sent");

    // Only a FIFO is opened for writing: a file of any other kind is never
    // opened so (a device could act on the open alone), and nothing is ever
    // created. The path is looked up once, without opening what it names
    // (O_PATH); the kind is judged on that very file, and it is that file,
    // not whatever the path names by then, that is opened for the write.
    int at = open(path, O_PATH | O_CLOEXEC);
    if (at < 0) {
        if (errno == ENOENT)
            return command_refused(where + " does not exist: nothing sent");
        if (errno == EACCES)
            return command_refused(command_denied(where));
        return command_refused("cannot reach " + where + ": " + strerror(errno));
    }
    struct stat st;
    if (fstat(at, &st) != 0) {
        const int error = errno;
        close(at);
        return command_refused("cannot reach " + where + ": " + strerror(error));
    }
    if (!S_ISFIFO(st.st_mode)) {
        close(at);
        return command_refused(where + " is " + command_kind(st.st_mode) +
                               ", not the daemon's command pipe: nothing sent");
    }
    const std::string same = "/proc/self/fd/" + std::to_string(at);
    int fd = open(same.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int open_error = errno;
    close(at);
    if (fd < 0) {
        if (open_error == ENXIO)
            return command_refused("the daemon is not reading " + where);
        if (open_error == EACCES)
            return command_refused(command_denied(where));
        return command_refused("cannot open " + where + ": " + strerror(open_error));
    }
    int error = 0;
    ssize_t n = command_write(fd, line, error);
    close(fd);
    if (n < 0) {
        if (error == EAGAIN)
            return command_refused("the daemon's pipe " + where + " is full: nothing sent");
        if (error == EPIPE)
            return command_refused("the daemon stopped reading " + where + ": nothing sent");
        return command_refused("cannot write " + where + ": " + strerror(error));
    }
    if (static_cast<size_t>(n) != line.size())
        return command_refused("only " + std::to_string(n) + " of " +
                               std::to_string(line.size()) + " bytes reached " + where);
    debug("command sent: %.*s", static_cast<int>(line.size() - 1), line.c_str());
    return "";
}

std::string command_author()
{
    const passwd *pw = getpwuid(getuid());
    return pw && pw->pw_name ? pw->pw_name : "";
}

std::string command_run(const site *where, int action, const char *host, const char *service,
                        const char *comment, long long seconds)
{
    const long long now = time(nullptr);
    const std::string author = command_author();
    std::string line, why;
    long long end;
    if (__builtin_add_overflow(now, seconds, &end))
        return command_refused("the downtime is too long: nothing sent");
    if (!command_build(action, host, service, author.c_str(), comment, now, end, line, why))
        return command_refused(why);
    if (!where)
        return command_send(command_file, line);
    if (where->kind == SITE_STATUS)
        return command_send(where->command_file, line);
    // Livestatus takes the same line behind its own word, on a connection
    // of its own.
    const int64_t deadline =
        livestatus_now_ms() + std::min<int64_t>(site_timeout_secs, COMMAND_WAIT_SECONDS) * 1000;
    if (!livestatus_command(*where, "COMMAND " + line, deadline, why))
        return std::string("not sent: ") + why;
    return "";
}
