// The debug log and the fatal error channels.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <curses.h>

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

void fatal_fopen(const char *path)
{
    int reason = errno;  // ending curses may touch errno
    log_end_curses();
    fprintf(stderr, "fatal error: fopen %s ", path);
    errno = reason;
    perror("failed");
    exit(1);
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
