// SPDX-License-Identifier: GPL-2.0-or-later
// The debug log and the fatal error channels.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curses.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "quelvan.h"

bool curses_active = false;

void debug(const char *format, ...)
{
    if (debugging != 1)
        return;
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputs("\r\n", stderr);
    fflush(stderr);
}

void text_copy(char *dst, const char *src)
{
    size_t n = strnlen(src, TEXT_SIZE - 1);
    memmove(dst, src, n);
    dst[n] = '\0';
}

static void log_end_curses()
{
    if (curses_active) {
        endwin();
        curses_active = false;
    }
}

void fatal_stdout(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    vprintf(format, ap);
    va_end(ap);
    fflush(stdout);
    exit(1);
}

// The reason is the system's (errno) unless one is given.
[[noreturn]] static void fatal_fopen(const char *path, const char *reason = nullptr)
{
    int error = errno;  // ending curses may touch errno
    log_end_curses();
    fprintf(stderr, "fatal error: fopen %s ", path);
    if (reason) {
        fprintf(stderr, "failed: %s\n", reason);
    } else {
        errno = error;
        perror("failed");
    }
    exit(1);
}

FILE *file_open_regular(const char *path)
{
    // O_NONBLOCK: the open of a FIFO without a writer returns at once, so
    // the file's type can be looked at before anything waits on it.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fatal_fopen(path);
    // Ends with the open file closed, errno kept for the message.
    auto fail = [&](const char *reason) {
        int error = errno;
        close(fd);
        errno = error;
        fatal_fopen(path, reason);
    };
    struct stat st;
    if (fstat(fd, &st) != 0)
        fail(nullptr);
    if (!S_ISREG(st.st_mode))
        fail("not a regular file");
    int flags = fcntl(fd, F_GETFL);
    FILE *f = nullptr;
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 || !(f = fdopen(fd, "r")))
        fail(nullptr);
    return f;
}

FILE *file_try_regular(const char *path, std::string &why)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    FILE *f = nullptr;
    const char *reason = nullptr;
    if (fd >= 0 && fstat(fd, &st) == 0) {
        int flags = fcntl(fd, F_GETFL);
        if (!S_ISREG(st.st_mode))
            reason = "not a regular file";
        else if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1)
            f = fdopen(fd, "r");
    }
    if (f)
        return f;
    char buf[256];
    why = reason ? reason : strerror_r(errno, buf, sizeof buf);
    if (fd >= 0)
        close(fd);
    return nullptr;
}

// Standard output, with curses ended first so that the message is read on
// a working terminal.
[[noreturn]] static void log_vfatal_screen(const char *format, va_list ap)
{
    log_end_curses();
    vprintf(format, ap);
    fflush(stdout);
    exit(1);
}

void fatal_screen(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    log_vfatal_screen(format, ap);
}

void fatal_perl(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    log_vfatal_screen(format, ap);
}
