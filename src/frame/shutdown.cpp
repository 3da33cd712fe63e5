// SPDX-License-Identifier: GPL-2.0-or-later
// Endings that do not pass through the program's own exits still give the
// user a working terminal: an exit() from elsewhere (the hook script calling
// Perl's exit) ends curses first, and a hangup, quit or crash signal puts the
// terminal back into the mode it had before the screen was set up. curses'
// own handlers already do this for the interrupt and terminate signals.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
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
void shutdown_restore()
{
    if (shutdown_fd >= 0) {
        if (shutdown_text_len > 0) {
            ssize_t n = write(shutdown_fd, shutdown_text, shutdown_text_len);
            (void)n;
        }
        tcsetattr(shutdown_fd, TCSANOW, &shutdown_mode);
    }
}

void shutdown_signal(int signo)
{
    shutdown_restore();
    // The handler was reset to the default: the signal ends the process as
    // it would have, with its own status.
    raise(signo);
}

// The crash signals and what they did before the hook script could touch
// them: the default action, or the handler of a sanitizer that reports the
// fault. Never a handler of the script's: one that returns would let the
// console go on with the terminal out of its screen mode.
constexpr int shutdown_crash_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGABRT};
struct sigaction shutdown_crash_old[std::size(shutdown_crash_signals)];
bool shutdown_crash_saved = false;

// A stack of its own, so that a stack overflow can still be answered.
alignas(16) char shutdown_stack[64 * 1024];

void shutdown_crash(int signo, siginfo_t *info, void *)
{
    shutdown_restore();
    for (size_t i = 0; i < std::size(shutdown_crash_signals); i++)
        if (shutdown_crash_signals[i] == signo)
            sigaction(signo, &shutdown_crash_old[i], nullptr);
    // A signal that was sent (kill, raise, abort) is sent again; it waits
    // until this handler returns. A fault comes again by itself when the
    // faulting instruction runs again on return. Either way it meets the
    // old action, which ends the process with the signal's status and core.
    if (info == nullptr || info->si_code <= 0)
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

void shutdown_save_crash_actions()
{
    for (size_t i = 0; i < std::size(shutdown_crash_signals); i++)
        if (sigaction(shutdown_crash_signals[i], nullptr, &shutdown_crash_old[i]) != 0)
            shutdown_crash_old[i].sa_handler = SIG_DFL;
    shutdown_crash_saved = true;
}

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

    stack_t ss {};
    if (sigaltstack(nullptr, &ss) == 0 && (ss.ss_flags & SS_DISABLE)) {
        ss.ss_sp = shutdown_stack;
        ss.ss_size = sizeof shutdown_stack;
        ss.ss_flags = 0;
        sigaltstack(&ss, nullptr);
    }
    // Installed after the script's main program has run, over any handler
    // it set; the interpreter keeps hooks from setting others (perl_hook_init).
    if (!shutdown_crash_saved)
        shutdown_save_crash_actions();
    struct sigaction crash {};
    crash.sa_sigaction = shutdown_crash;
    sigemptyset(&crash.sa_mask);
    crash.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (size_t i = 0; i < std::size(shutdown_crash_signals); i++) {
        const struct sigaction &old = shutdown_crash_old[i];
        if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN)
            continue;  // an ignored signal stays ignored
        sigaction(shutdown_crash_signals[i], &crash, nullptr);
    }
}
