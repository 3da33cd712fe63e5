// SPDX-License-Identifier: GPL-2.0-or-later
// Test harness: per-test working directories with the console's files, runs
// of the real binary with captured output, and runs in a real terminal under
// tmux, typed at with send-keys and read with capture-pane.
#ifndef TESTS_HARNESS_H
#define TESTS_HARNESS_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using env_list = std::vector<std::pair<std::string, std::string>>;

// --- waiting ---
// How long a wait gives the program by default. A wait returns as soon as
// what it waits for shows, so a long deadline costs nothing when all is
// well; it has to hold while ctest runs CPU-heavy tests beside this one on
// a loaded two-core machine.
constexpr int WAIT_MS = 30000;
// Asks done() until it is true (true) or the deadline, timeout_ms from now
// by the clock, has passed (false). done() is asked at least once, and once
// more at the deadline.
bool harness_poll(const std::function<bool()> &done, int timeout_ms = WAIT_MS);
// Sleeps at least ms milliseconds (a pause, never a wait for an event).
void harness_pause(int ms);

// --- shell ---
// Runs a shell command; its standard output, and its exit status in *status.
std::string harness_sh(const std::string &cmd, int *status = nullptr);
// s quoted for the shell.
std::string harness_quote(const std::string &s);
// An env(1) assignment for a run of the binary under ptrace (strace), where
// LeakSanitizer cannot work: the sanitizer build's ASAN_OPTIONS with leak
// detection off, quoted for the shell (a no-op in other builds).
std::string harness_no_leaks_env();
// How often what occurs in text.
int count_of(const std::string &text, const std::string &what);

// --- in-process heap ---
// Bytes of the heap in use by the process: the allocator's own count, also
// under AddressSanitizer (whose allocator keeps no mallinfo2 figures). Never
// 0 while the test program runs.
size_t harness_heap_in_use();

// --- in-process fatal errors ---
// Runs what in a child whose standard output goes to a file: the child must
// end with status 1 and have written exactly out_text.
void expect_fatal(const std::function<void()> &what, const std::string &out_text);

// --- files ---
// A fresh, empty working directory for the running test.
std::string test_dir();
void write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);
// Where the console looks for its files, seen from its working directory dir.
std::string status_path(const std::string &dir);
std::string hook_path(const std::string &dir);
std::string help_path(const std::string &dir);
std::string system_rc_path_in(const std::string &dir);

// A hook script whose text hooks pass texts through and whose regex_hook uses
// Perl's own match, turning a bad pattern into "show".
extern const char *const PASS_THROUGH_HOOK;
// Writes the hook script, a short help file and, when given, the status file.
void write_defaults(const std::string &dir, const std::string &status = "",
                    const std::string &hook = PASS_THROUGH_HOOK);

// --- status files ---
// "info {" with the creation time, then the given stanzas.
std::string status_file(long created, const std::string &stanzas = "");
// Stanzas in the daemon's layout (tab-indented key=value lines).
std::string host_stanza(const std::string &name, int state, const std::string &output,
                        long last_state_change);
std::string service_stanza(const std::string &host, const std::string &description, int state,
                           const std::string &output, long last_state_change);
// The real Nagios 4 status file: sample/status.dat, the one copy in the tree.
std::string real_status_path();
// A file of tests/fixtures; "nagios4-status.dat" still names the real status
// file above.
std::string fixture_path(const std::string &name);

// --- the binary without a terminal ---
struct run_result {
    int status;        // exit status, or -1 when it did not end by itself
    std::string out;   // standard output
    std::string err;   // standard error
};
// Runs quelvan in dir with HOME=dir, TZ=UTC, standard input from /dev/null.
run_result run_quelvan(const std::string &dir, const std::vector<std::string> &args,
                       const env_list &env = {}, int timeout_ms = WAIT_MS);

// --- the binary in a terminal ---
// A tty owns a private tmux server: its end (the destructor, or a guard
// process once the test program is gone, even killed by a ctest timeout)
// ends the server and the program in it.
struct tty {
    std::string socket;  // private tmux server of this run
    std::string dir;
    std::string socket_path;  // its socket file, removed with the server
    tty() = default;
    tty(const tty &) = delete;
    tty &operator=(const tty &) = delete;
    tty(tty &&other) noexcept;
    ~tty();
};
// Starts quelvan in dir in a cols x rows terminal (HOME=dir, TZ=UTC,
// LANG=C.UTF-8 unless env says otherwise); standard error goes to
// dir/stderr.txt. The pane stays after the program ends.
tty tty_start(const std::string &dir, const std::vector<std::string> &args, int cols = 80,
              int rows = 24, const env_list &env = {});
// The screen as text, one line per row (with -e escapes when colours).
std::string tty_screen(const tty &t, bool colours = false);
// Row r of the screen, without trailing blanks.
std::string tty_row(const tty &t, int r);
// Starts shell command cmd (run by sh in dir) in a new private tmux server
// of t (socket named after prefix), in a cols x rows terminal whose pane
// stays after the command ends; a guard ends the server with the test.
void tty_launch(tty &t, const std::string &prefix, const std::string &dir,
                const std::string &cmd, int cols, int rows);
// Waits until text shows anywhere on the screen (true) or time runs out.
// capture-pane drops blanks at the end of a row: wait for "Command:".
bool tty_wait(const tty &t, const std::string &text, int timeout_ms = WAIT_MS);
// Waits until text is no longer on the screen.
bool tty_wait_gone(const tty &t, const std::string &text, int timeout_ms = WAIT_MS);
// Waits until row r reads text exactly (trailing blanks dropped).
bool tty_wait_row(const tty &t, int r, const std::string &text, int timeout_ms = WAIT_MS);
// Waits until row r contains text.
bool tty_wait_in_row(const tty &t, int r, const std::string &text, int timeout_ms = WAIT_MS);
// Types the characters of text literally.
void tty_type(const tty &t, const std::string &text);
// Presses keys by tmux name: "Enter", "F3", "C-l", "Space", "NPage", ...
void tty_keys(const tty &t, const std::vector<std::string> &names);
// Resizes the terminal.
void tty_resize(const tty &t, int cols, int rows);
// Waits for the program to end; its exit status, or -1 when it did not.
int tty_wait_exit(const tty &t, int timeout_ms = WAIT_MS);
// What the program wrote on standard error so far.
std::string tty_stderr(const tty &t);
// Waits until standard error holds text at least times times.
bool tty_wait_stderr(const tty &t, const std::string &text, int times = 1,
                     int timeout_ms = WAIT_MS);
// A tmux format of the program's pane, e.g. "#{cursor_flag}" (1 while the
// cursor is shown).
std::string tty_query(const tty &t, const std::string &format);
// Cursor position of the pane as "row,col".
std::string tty_cursor(const tty &t);
// Row r of the command row's position: LINES - pad - 1.
inline int tty_command_row(int rows, int pad = 1) { return rows - pad - 1; }

// Applies command-line options in-process, as the program does after its
// configuration files (argv[0] is added).
void apply_options(std::vector<std::string> args);
#endif
