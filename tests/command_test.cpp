// SPDX-License-Identifier: GPL-2.0-or-later
// Commands to the daemon: the exact line of every action, what a comment or
// a name may hold, the author, and the writer against real FIFOs that the
// test reads itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <ostream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "command/command.h"
#include "harness.h"
#include "quelvan.h"

namespace fs = std::filesystem;

namespace {

constexpr long long NOW = 1700000000;
constexpr long long END = NOW + 7200;

// The line of action for web-01 (service null) or its HTTP, by ann.
std::string built(int action, const char *service, const char *comment = "disk full",
                  std::string *why_out = nullptr)
{
    std::string line = "untouched", why;
    bool ok = command_build(action, "web-01", service, "ann", comment, NOW, END, line, why);
    if (why_out)
        *why_out = why;
    EXPECT_EQ(ok, why.empty()) << why;
    if (!ok) {
        EXPECT_EQ(line, "untouched") << "a refusal leaves the line alone";
    }
    return ok ? line : "";
}

struct action_case {
    const char *name;
    int action;
    const char *service;
    const char *line;
};

// Failures name the case, not its bytes.
void PrintTo(const action_case &c, std::ostream *os) { *os << c.name; }

class ActionLine : public testing::TestWithParam<action_case> {
protected:
    void SetUp() override { settings_reset(); }
};

TEST_P(ActionLine, IsExactlyTheDaemonsLine)
{
    const action_case &c = GetParam();
    EXPECT_EQ(built(c.action, c.service), c.line);
}

const action_case ACTION_CASES[] = {
    {"AckHost", ACTION_ACK, nullptr,
     "[1700000000] ACKNOWLEDGE_HOST_PROBLEM;web-01;2;1;1;ann;disk full\n"},
    {"AckService", ACTION_ACK, "HTTP",
     "[1700000000] ACKNOWLEDGE_SVC_PROBLEM;web-01;HTTP;2;1;1;ann;disk full\n"},
    {"UnackHost", ACTION_UNACK, nullptr, "[1700000000] REMOVE_HOST_ACKNOWLEDGEMENT;web-01\n"},
    {"UnackService", ACTION_UNACK, "HTTP",
     "[1700000000] REMOVE_SVC_ACKNOWLEDGEMENT;web-01;HTTP\n"},
    {"DowntimeHost", ACTION_DOWNTIME, nullptr,
     "[1700000000] SCHEDULE_HOST_DOWNTIME;web-01;1700000000;1700007200;1;0;7200;ann;disk full\n"},
    {"DowntimeService", ACTION_DOWNTIME, "HTTP",
     "[1700000000] SCHEDULE_SVC_DOWNTIME;web-01;HTTP;1700000000;1700007200;1;0;7200;ann;"
     "disk full\n"},
    {"CheckHost", ACTION_CHECK, nullptr,
     "[1700000000] SCHEDULE_FORCED_HOST_CHECK;web-01;1700000000\n"},
    {"CheckService", ACTION_CHECK, "HTTP",
     "[1700000000] SCHEDULE_FORCED_SVC_CHECK;web-01;HTTP;1700000000\n"},
    {"NotifyOffHost", ACTION_NOTIFY_OFF, nullptr,
     "[1700000000] DISABLE_HOST_NOTIFICATIONS;web-01\n"},
    {"NotifyOffService", ACTION_NOTIFY_OFF, "HTTP",
     "[1700000000] DISABLE_SVC_NOTIFICATIONS;web-01;HTTP\n"},
    {"NotifyOnHost", ACTION_NOTIFY_ON, nullptr, "[1700000000] ENABLE_HOST_NOTIFICATIONS;web-01\n"},
    {"NotifyOnService", ACTION_NOTIFY_ON, "HTTP",
     "[1700000000] ENABLE_SVC_NOTIFICATIONS;web-01;HTTP\n"},
};
INSTANTIATE_TEST_SUITE_P(EveryAction, ActionLine, testing::ValuesIn(ACTION_CASES),
                         [](const testing::TestParamInfo<action_case> &i) {
                             return std::string(i.param.name);
                         });

TEST(CommandBuild, AcknowledgementSettingsGiveStickyAndNotify)
{
    struct ack_case {
        int sticky, notify;
        const char *fields;
    };
    const ack_case cases[] = {{1, 1, ";2;1;1;"}, {0, 1, ";1;1;1;"}, {1, 0, ";2;0;1;"},
                              {0, 0, ";1;0;1;"}};
    for (const auto &c : cases) {
        settings_reset();
        ack_sticky = c.sticky;
        ack_notify = c.notify;
        EXPECT_EQ(built(ACTION_ACK, "HTTP", "x"),
                  std::string("[1700000000] ACKNOWLEDGE_SVC_PROBLEM;web-01;HTTP") + c.fields +
                      "ann;x\n");
    }
    settings_reset();
}

std::string repeat(const std::string &s, size_t n)
{
    std::string r;
    for (size_t i = 0; i < n; i++)
        r += s;
    return r;
}

// What reaches the line of a comment: control characters become blanks, a
// downtime loses its ';' (the daemon would end the comment there), and a
// multi-byte character is kept whole. "" wants a refusal.
TEST(CommandBuild, CommentsHoldNothingThatEndsOrSplitsTheLine)
{
    struct comment_case {
        std::string comment, ack, downtime;
    };
    const std::string long_ascii = repeat("x", 1023);
    const std::string long_umlauts = repeat("ä", 1023);
    const comment_case cases[] = {
        {"a\r\nb", "a  b", "a  b"},
        {"x\ty\x01z\x7f", "x y z ", "x y z "},
        {"\x1b[2Jclear", " [2Jclear", " [2Jclear"},
        {"one; two", "one; two", "one two"},
        {";;a;;", ";;a;;", "a"},
        {"Gehäuse über ; 温度", "Gehäuse über ; 温度", "Gehäuse über  温度"},
        // A C1 control written in UTF-8 goes whole; a no-break space stays.
        {"a\xc2\x85" "b\xc2\xa0" "c", "a b\xc2\xa0" "c", "a b\xc2\xa0" "c"},
        // Taking the ';' out must not join two bytes into a C1 control.
        {"a\xc2;\x85" "b", "a\xc2;\x85" "b", "a b"},
        {long_ascii, long_ascii, long_ascii},
        {long_umlauts, long_umlauts, long_umlauts},
        // Nothing but blanks left: refused.
        {"", "", ""},
        {"\n", "", ""},
        {"   ", "", ""},
        {";", ";", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("comment \"" + c.comment.substr(0, 40) + "\"");
        std::string why;
        const std::string ack = built(ACTION_ACK, "HTTP", c.comment.c_str(), &why);
        if (c.ack.empty())
            EXPECT_EQ(why, "no comment: nothing sent");
        else
            EXPECT_EQ(ack, "[1700000000] ACKNOWLEDGE_SVC_PROBLEM;web-01;HTTP;2;1;1;ann;" + c.ack +
                               "\n");
        const std::string downtime = built(ACTION_DOWNTIME, nullptr, c.comment.c_str(), &why);
        if (c.downtime.empty())
            EXPECT_EQ(why, "no comment: nothing sent");
        else
            EXPECT_EQ(downtime, "[1700000000] SCHEDULE_HOST_DOWNTIME;web-01;1700000000;"
                                "1700007200;1;0;7200;ann;" + c.downtime + "\n");
    }
}

TEST(CommandBuild, LinesOverPipeBufAreRefusedNotCut)
{
    // 1,023 characters of four bytes each: more than a pipe takes whole.
    const std::string faces = repeat("\xf0\x9f\x98\x80", 1023);
    std::string why;
    EXPECT_EQ(built(ACTION_ACK, "HTTP", faces.c_str(), &why), "");
    EXPECT_NE(why.find("more than the " + std::to_string(PIPE_BUF) + " a pipe takes whole"),
              std::string::npos)
        << why;
    // The longest comment that fits makes a line of exactly PIPE_BUF bytes.
    const std::string head = "[1700000000] ACKNOWLEDGE_HOST_PROBLEM;web-01;2;1;1;ann;";
    const std::string fits(PIPE_BUF - head.size() - 1, 'c');
    EXPECT_EQ(built(ACTION_ACK, nullptr, fits.c_str()).size(), size_t(PIPE_BUF));
    EXPECT_EQ(built(ACTION_ACK, nullptr, (fits + "c").c_str(), &why), "");
    EXPECT_FALSE(why.empty());
}

TEST(CommandBuild, NamesThatCannotBeAddressedAreRefused)
{
    struct name_case {
        const char *host, *service, *author;
        const char *why;
    };
    const name_case cases[] = {
        {"web;01", nullptr, "ann", "the host name holds a ';' or a control character: nothing sent"},
        {"web\n01", "HTTP", "ann", "the host name holds a ';' or a control character: nothing sent"},
        {"web\r", "HTTP", "ann", "the host name holds a ';' or a control character: nothing sent"},
        {"web\x7f", nullptr, "ann", "the host name holds a ';' or a control character: nothing sent"},
        {"", nullptr, "ann", "the host name is empty: nothing sent"},
        {nullptr, nullptr, "ann", "the host name is empty: nothing sent"},
        {"web-01", "HTTP;x", "ann",
         "the service description holds a ';' or a control character: nothing sent"},
        {"web-01", "HTTP\n[1] SHUTDOWN_PROGRAM", "ann",
         "the service description holds a ';' or a control character: nothing sent"},
        {"web-01", "a\xc2\x9b" "b", "ann",
         "the service description holds a ';' or a control character: nothing sent"},
        {"web-01", "", "ann", "the service description is empty: nothing sent"},
        {"web-01", "HTTP", "a;nn", "the login name holds a ';' or a control character: nothing sent"},
        {"web-01", "HTTP", "", "the login name is empty: nothing sent"},
    };
    for (const auto &c : cases) {
        for (int action : {ACTION_ACK, ACTION_UNACK, ACTION_DOWNTIME, ACTION_CHECK,
                           ACTION_NOTIFY_OFF, ACTION_NOTIFY_ON}) {
            std::string line = "untouched", why;
            bool ok = command_build(action, c.host, c.service, c.author, "x", NOW, END, line, why);
            const bool author_used = action == ACTION_ACK || action == ACTION_DOWNTIME;
            const bool author_case = strncmp(c.why, "the login name", 14) == 0;
            SCOPED_TRACE("action " + std::to_string(action) + ": " + c.why);
            if (author_case && !author_used) {
                EXPECT_TRUE(ok) << why;  // the author is not part of the line
                continue;
            }
            EXPECT_FALSE(ok);
            EXPECT_EQ(why, c.why);
            EXPECT_EQ(line, "untouched");
        }
    }
    // Names the daemon takes as they are: blanks, UTF-8, punctuation.
    std::string line, why;
    EXPECT_TRUE(command_build(ACTION_UNACK, "web 01.example", "Temperatur Gehäuse [°C]", nullptr,
                              nullptr, NOW, END, line, why));
    EXPECT_EQ(line, "[1700000000] REMOVE_SVC_ACKNOWLEDGEMENT;web 01.example;"
                    "Temperatur Gehäuse [°C]\n");
}

TEST(CommandBuild, DowntimeMustEndAfterItStartsAndActionsMustExist)
{
    std::string line, why;
    for (long long end : {NOW, NOW - 1, LLONG_MIN}) {
        EXPECT_FALSE(command_build(ACTION_DOWNTIME, "h", nullptr, "ann", "x", NOW, end, line, why));
        EXPECT_EQ(why, "the downtime would end before it starts: nothing sent");
    }
    EXPECT_FALSE(
        command_build(ACTION_DOWNTIME, "h", nullptr, "ann", "x", LLONG_MIN, LLONG_MAX, line, why));
    EXPECT_FALSE(command_build(6, "h", nullptr, "ann", "x", NOW, END, line, why));
    EXPECT_EQ(why, "unknown action 6: nothing sent");
    EXPECT_FALSE(command_build(-1, "h", nullptr, "ann", "x", NOW, END, line, why));
}

// --- the author ---

// Runs what in a child whose text comes back through a pipe; a child that
// blocks is ended by its alarm, so a wait on the pipe cannot hang the test.
std::string in_child(const std::function<std::string()> &what, bool *ended_well = nullptr)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe: " + std::string(strerror(errno));
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(20);
        std::string out = what();
        ssize_t n = write(fds[1], out.data(), out.size());
        _exit(n == static_cast<ssize_t>(out.size()) ? 0 : 3);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        out.append(buf, n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const bool well = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ended_well)
        *ended_well = well;
    else
        EXPECT_TRUE(well) << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                  : "status " + std::to_string(status));
    return out;
}

// Drops to the user nobody (and its group alone): for the tests that run as root.
bool become_nobody()
{
    const passwd *pw = getpwnam("nobody");
    return pw && setgroups(0, nullptr) == 0 && setgid(pw->pw_gid) == 0 && setuid(pw->pw_uid) == 0;
}

TEST(CommandAuthor, IsTheRealUsersLoginNameNotTheEnvironments)
{
    setenv("USER", "mallory", 1);
    setenv("LOGNAME", "mallory", 1);
    std::string id = harness_sh("id -un");
    while (!id.empty() && id.back() == '\n')
        id.pop_back();
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(command_author(), id);
    if (geteuid() == 0) {
        EXPECT_EQ(in_child([] { return become_nobody() ? command_author() : "no nobody"; }),
                  "nobody");
    }
    unsetenv("USER");
    unsetenv("LOGNAME");
}

// --- the writer ---

// A FIFO in the test's directory, with the test's own reader open on it.
class CommandPipe : public testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        dir_ = test_dir();
        fifo_ = dir_ + "/nagios.cmd";
        ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0) << strerror(errno);
        reader_ = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader_, 0) << strerror(errno);
    }
    void TearDown() override
    {
        if (reader_ >= 0)
            close(reader_);
    }
    // Everything that has arrived at the reader so far.
    std::string arrived()
    {
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = read(reader_, buf, sizeof buf)) > 0;)
            got.append(buf, n);
        return got;
    }
    // command_send in a child with a deadline: a call that blocks fails.
    static std::string send(const std::string &path, const std::string &line)
    {
        return in_child([&] { return command_send(path.c_str(), line); });
    }
    // The entries of the test's directory, to see that nothing was created.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_, fifo_;
    int reader_ = -1;
};

const std::string LINE = "[1700000000] SCHEDULE_FORCED_SVC_CHECK;web-01;HTTP;1700000000\n";

TEST_F(CommandPipe, TheLineArrivesWholeAndOnce)
{
    EXPECT_EQ(send(fifo_, LINE), "");
    EXPECT_EQ(arrived(), LINE);
    // Through a link to the FIFO as well.
    fs::create_symlink(fifo_, dir_ + "/link");
    EXPECT_EQ(send(dir_ + "/link", LINE), "");
    EXPECT_EQ(arrived(), LINE);
    // A line of exactly PIPE_BUF bytes is one write too.
    const std::string head = "[1] ACKNOWLEDGE_HOST_PROBLEM;h;2;1;1;ann;";
    const std::string full = head + std::string(PIPE_BUF - head.size() - 1, 'c') + "\n";
    ASSERT_EQ(full.size(), size_t(PIPE_BUF));
    EXPECT_EQ(send(fifo_, full), "");
    EXPECT_EQ(arrived(), full);
}

TEST_F(CommandPipe, WhatIsNoFifoWithAReaderIsRefusedUntouched)
{
    write_file(dir_ + "/status.dat", "precious\n");
    fs::create_symlink(dir_ + "/status.dat", dir_ + "/to-file");
    fs::create_directory(dir_ + "/spool");
    fs::create_symlink(dir_ + "/gone", dir_ + "/dangling");
    ASSERT_EQ(mkfifo((dir_ + "/unread.cmd").c_str(), 0600), 0);
    const std::vector<std::string> before = entries();
    struct refusal {
        std::string path, why;
    };
    const refusal cases[] = {
        {dir_ + "/status.dat",
         dir_ + "/status.dat is a regular file, not the daemon's command pipe: nothing sent"},
        {dir_ + "/to-file",
         dir_ + "/to-file is a regular file, not the daemon's command pipe: nothing sent"},
        {dir_ + "/spool", dir_ + "/spool is a directory, not the daemon's command pipe: nothing sent"},
        {"/dev/null", "/dev/null is a character device, not the daemon's command pipe: nothing sent"},
        {dir_ + "/missing", dir_ + "/missing does not exist: nothing sent"},
        {dir_ + "/dangling", dir_ + "/dangling does not exist: nothing sent"},
        {dir_ + "/unread.cmd", "the daemon is not reading " + dir_ + "/unread.cmd"},
        {"", "commands are off (default command_file = none)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(send(c.path, LINE), c.why);
    }
    EXPECT_EQ(read_file(dir_ + "/status.dat"), "precious\n");
    EXPECT_TRUE(fs::is_empty(dir_ + "/spool"));
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(arrived(), "");
}

// The path swapped between the pipe and a regular file as fast as a child
// can (rename with RENAME_EXCHANGE) while commands are sent: the kind is
// judged on the file that is then written, so the regular file is never
// opened for writing (inotify would see it closed after a write open), and
// what reaches the pipe is whole lines.
TEST_F(CommandPipe, AFileSwappedInIsNeverOpenedForWriting)
{
    const std::string other = dir_ + "/other";
    write_file(other, "keep\n");
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0) << strerror(errno);
    ASSERT_GE(inotify_add_watch(watch, other.c_str(), IN_CLOSE_WRITE | IN_MODIFY), 0);
    pid_t swapper = fork();
    if (swapper == 0) {
        alarm(60);
        for (;;)
            if (renameat2(AT_FDCWD, fifo_.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) != 0)
                _exit(2);
    }
    ASSERT_GT(swapper, 0);
    std::string got;
    int sent = 0, refused = 0;
    for (int i = 0; i < 5000; i++) {
        const std::string why = command_send(fifo_.c_str(), LINE);
        (why.empty() ? sent : refused)++;
        if (i % 100 == 0)
            got += arrived();
    }
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    got += arrived();

    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "the regular file was opened for writing";
    close(watch);
    // Wherever the two names stand now, the regular file is the one holding "keep".
    struct stat st;
    const std::string regular = stat(other.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? other : fifo_;
    EXPECT_EQ(read_file(regular), "keep\n");
    EXPECT_GT(sent, 0);
    EXPECT_GT(refused, 0) << "the swap never met a send: the test proves nothing";
    EXPECT_EQ(got.size(), LINE.size() * static_cast<size_t>(sent));
    for (size_t at = 0; at < got.size(); at += LINE.size())
        EXPECT_EQ(got.compare(at, LINE.size(), LINE), 0) << at;
}

TEST_F(CommandPipe, OnlyOneWholeSafeLineIsWritten)
{
    const std::string too_long = "[1] X;" + std::string(PIPE_BUF, 'a') + "\n";
    const std::string cases[] = {too_long, "", "[1] X;a", "[1] X;a\n\n", "[1] X;a\n[1] Y;b\n",
                                 "[1] X;a\rb\n", std::string("[1] X;a\0b\n", 10)};
    for (const auto &line : cases) {
        SCOPED_TRACE(line.substr(0, 40));
        EXPECT_FALSE(send(fifo_, line).empty());
    }
    EXPECT_EQ(arrived(), "");
}

TEST_F(CommandPipe, AFullPipeIsRefusedWithoutATornLine)
{
    int filler = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(filler, 0) << strerror(errno);
    const std::string block(512, 'f');
    size_t filled = 0;
    for (ssize_t n; (n = write(filler, block.data(), block.size())) > 0;)
        filled += n;
    ASSERT_EQ(errno, EAGAIN);
    // Room for less than the line: nothing of it may go in.
    while (write(filler, "f", 1) == 1)
        filled++;
    EXPECT_EQ(send(fifo_, LINE), "the daemon's pipe " + fifo_ + " is full: nothing sent");
    close(filler);
    EXPECT_EQ(arrived(), std::string(filled, 'f'));
}

TEST_F(CommandPipe, EachSentCommandIsOneLineOfTheDebugLog)
{
    debugging = 1;
    text_copy(command_file, fifo_.c_str());
    testing::internal::CaptureStderr();
    const std::string got = command_run(nullptr, ACTION_DOWNTIME, "web-01", "HTTP", "window", 7200);
    const std::string none = command_run(nullptr, ACTION_CHECK, "web;01", nullptr, nullptr, 0);
    const std::string log = testing::internal::GetCapturedStderr();
    settings_reset();
    EXPECT_EQ(got, "");
    EXPECT_EQ(none, "the host name holds a ';' or a control character: nothing sent");

    const std::string line = arrived();
    long long now = 0, start = 0, end = 0, length = 0;
    char author[256] = "";
    ASSERT_EQ(sscanf(line.c_str(), "[%lld] SCHEDULE_SVC_DOWNTIME;web-01;HTTP;%lld;%lld;1;0;%lld;%255[^;];",
                     &now, &start, &end, &length, author),
              5)
        << line;
    EXPECT_EQ(start, now);
    EXPECT_EQ(end, now + 7200);
    EXPECT_EQ(length, 7200);
    EXPECT_EQ(author, command_author());
    EXPECT_EQ(line.substr(line.size() - 8), ";window\n");
    EXPECT_EQ(log, "command sent: " + line.substr(0, line.size() - 1) + "\r\n" +
                       "command not sent: " + none + "\r\n");
}

// The group that may write the pipe, or that may enter the directory on the
// way to it, is named.
TEST(CommandPermission, TheMessageNamesTheGroupThatGivesAccess)
{
    const group *gr = getgrnam("www-data");
    if (geteuid() != 0 || !gr || !getpwnam("nobody"))
        GTEST_SKIP() << "needs root, the group www-data and the user nobody";
    const gid_t gid = gr->gr_gid;
    char tmpl[] = "/tmp/quelvan-command-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string top = tmpl;
    const std::string open_dir = top + "/open", closed_dir = top + "/rw";
    ASSERT_EQ(chmod(top.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(open_dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(closed_dir.c_str(), 0750), 0);
    ASSERT_EQ(chown(closed_dir.c_str(), 0, gid), 0);
    const std::string owner_dir = top + "/owner";
    ASSERT_EQ(mkdir(owner_dir.c_str(), 0700), 0);
    ASSERT_EQ(chown(owner_dir.c_str(), 0, gid), 0);
    for (const std::string &d : {open_dir, closed_dir, owner_dir}) {
        const std::string p = d + "/nagios.cmd";
        ASSERT_EQ(mkfifo(p.c_str(), 0660), 0);
        ASSERT_EQ(chown(p.c_str(), 0, gid), 0);
        ASSERT_EQ(chmod(p.c_str(), 0660), 0);
    }
    const std::string denied = in_child([&] {
        if (!become_nobody())
            return std::string("no nobody");
        std::string said;
        for (const std::string &d : {open_dir, closed_dir, owner_dir})
            said += command_send((d + "/nagios.cmd").c_str(), LINE) + "\n";
        return said;
    });
    EXPECT_EQ(denied, "no permission to write " + open_dir +
                          "/nagios.cmd: it is for the group www-data\n"
                          "no permission to reach " + closed_dir + "/nagios.cmd: " + closed_dir +
                          " is for the group www-data\n"
                          "no permission to reach " + owner_dir + "/nagios.cmd: " + owner_dir +
                          " lets in only its owner\n");
    fs::remove_all(top);
}

}  // namespace
