// Endings that do not pass through the program's own exits still give the
// user a working terminal: an exit() from elsewhere (the hook script calling
// Perl's exit) ends curses first, and a hangup or quit signal puts the
// terminal back into the mode it had before the screen was set up. curses'
// own handlers already do this for the interrupt and terminate signals.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <termios.h>
#include <unistd.h>

#include <curses.h>
#include <term.h>

#include "frame/frame.h"
#include "quelvan.h"

namespace {

int shutdown_fd = -1;              // the terminal's descriptor
struct termios shutdown_mode;      // its mode before curses started
char shutdown_text[256];           // what leaves the screen mode: attributes,
size_t shutdown_text_len = 0;      // cursor and alternate screen

void shutdown_add(const char *capability)
{
    const char *s = tigetstr(capability);
    if (s == nullptr || s == reinterpret_cast<const char *>(-1))
        return;
    size_t n = strlen(s);
    if (shutdown_text_len + n > sizeof shutdown_text)
        return;
    memcpy(shutdown_text + shutdown_text_len, s, n);
    shutdown_text_len += n;
}

// Only what is safe inside a signal handler: write() and tcsetattr().
extern "C" void shutdown_signal(int signo)
{
    if (shutdown_fd >= 0) {
        if (shutdown_text_len > 0) {
            ssize_t n = write(shutdown_fd, shutdown_text, shutdown_text_len);
            (void)n;
        }
        tcsetattr(shutdown_fd, TCSANOW, &shutdown_mode);
    }
    // The handler was reset to the default: the signal ends the process as
    // it would have, with its own status.
    raise(signo);
}

void shutdown_at_exit()
{
    if (curses_active) {
        endwin();
        curses_active = false;
    }
}

}  // namespace

void shutdown_save_terminal()
{
    for (int fd : {STDOUT_FILENO, STDIN_FILENO}) {
        if (tcgetattr(fd, &shutdown_mode) == 0) {
            shutdown_fd = fd;
            break;
        }
    }
    atexit(shutdown_at_exit);
}

void shutdown_install()
{
    shutdown_add("sgr0");
    shutdown_add("cnorm");
    shutdown_add("rmcup");
    struct sigaction sa {};
    sa.sa_handler = shutdown_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int signo : {SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        sigaction(signo, nullptr, &old);
        if (old.sa_handler == SIG_DFL)  // an ignored signal stays ignored
            sigaction(signo, &sa, nullptr);
    }
}
