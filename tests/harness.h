// Test harness: per-test working directories with the console's files, runs
// of the real binary with captured output, and runs in a real terminal under
// tmux, typed at with send-keys and read with capture-pane.
#ifndef TESTS_HARNESS_H
#define TESTS_HARNESS_H

#include <string>
#include <utility>
#include <vector>

using env_list = std::vector<std::pair<std::string, std::string>>;

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
// The real Nagios 4 status file shipped with the tests.
std::string fixture_path(const std::string &name);

// --- the binary without a terminal ---
struct run_result {
    int status;        // exit status, or -1 when it did not end by itself
    std::string out;   // standard output
    std::string err;   // standard error
};
// Runs quelvan in dir with HOME=dir, TZ=UTC, standard input from /dev/null.
run_result run_quelvan(const std::string &dir, const std::vector<std::string> &args,
                       const env_list &env = {}, int timeout_ms = 20000);

// --- the binary in a terminal ---
struct tty {
    std::string socket;  // private tmux server of this run
    std::string dir;
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
// Waits until text shows anywhere on the screen (true) or time runs out.
// capture-pane drops blanks at the end of a row: wait for "Command:".
bool tty_wait(const tty &t, const std::string &text, int timeout_ms = 5000);
// Waits until text is no longer on the screen.
bool tty_wait_gone(const tty &t, const std::string &text, int timeout_ms = 5000);
// Types the characters of text literally.
void tty_type(const tty &t, const std::string &text);
// Presses keys by tmux name: "Enter", "F3", "C-l", "Space", "NPage", ...
void tty_keys(const tty &t, const std::vector<std::string> &names);
// Resizes the terminal.
void tty_resize(const tty &t, int cols, int rows);
// Waits for the program to end; its exit status, or -1 when it did not.
int tty_wait_exit(const tty &t, int timeout_ms = 5000);
// What the program wrote on standard error so far.
std::string tty_stderr(const tty &t);
// A tmux format of the program's pane, e.g. "#{cursor_flag}" (1 while the
// cursor is shown).
std::string tty_query(const tty &t, const std::string &format);
// Cursor position of the pane as "row,col".
std::string tty_cursor(const tty &t);



// Applies command-line options in-process, as the program does after its
// configuration files (argv[0] is added).
void apply_options(std::vector<std::string> args);
#endif
