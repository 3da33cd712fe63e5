// SPDX-License-Identifier: GPL-2.0-or-later
// The key commands as a user meets them: the real console in a terminal of
// 80 x 24, its header telling what each key changed, its terminal output
// telling which message and which beep each key gave.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "keys_tty.h"

namespace {

const long CREATED = 1700000000;

// 30 services (16 OKAY, 10 WARNING, 4 CRITICAL: 3 pages, 2 in warning mode)
// and 15 hosts (13 UP, 2 DOWN: 2 pages); every state changed a minute ago.
std::string console_status()
{
    std::string stanzas;
    for (int i = 1; i <= 15; i++)
        stanzas += host_stanza("host" + std::to_string(100 + i), i <= 13 ? 0 : 1, "PING",
                               CREATED - 60);
    stanzas += services("ok", 16, 0, CREATED);
    stanzas += services("warn", 10, 1, CREATED);
    stanzas += services("crit", 4, 2, CREATED);
    return status_file(CREATED, stanzas);
}

const char *const MESSAGES[] = {"page up", "page down", "first page", "last page", "mode",
                                "sort by", "filter deleted", "syntax error", "no filter",
                                "Fkey"};

struct step {
    const char *key;      // one character is typed, longer is a tmux key name
    const char *prompt;   // row 22 once the prompt is open, or ""
    const char *answer;   // typed at the prompt, then Enter
    const char *message;  // the message or label the key shows, or ""
    int beeps;
    std::vector<std::string> shows;  // on the screen afterwards
};

class KeysOnScreen : public testing::Test {
protected:
    void start(const std::vector<std::string> &args = {})
    {
        dir_ = test_dir();
        write_defaults(dir_, console_status());
        write_file(dir_ + "/.quelvanrc",
                   "f2 text =~ /ok/\nf2 text !~ /crit/\nf3 text !~ /warn/\n");
        tty_.emplace(tty_start(dir_, args));
        ASSERT_TRUE(tty_wait(t(), "page 1 of 3")) << tty_screen(t());
        log_ = std::make_unique<pane_log>(t());
        ASSERT_TRUE(log_->ok());
    }

    void send(const char *key)
    {
        if (std::string(key).size() == 1)
            tty_type(t(), key);
        else
            tty_keys(t(), {key});
    }

    void walk(const std::vector<step> &steps)
    {
        int n = 0;
        for (const step &s : steps) {
            SCOPED_TRACE("step " + std::to_string(++n) + ": " + s.key);
            log_->mark();
            send(s.key);
            if (s.prompt[0] != '\0') {
                ASSERT_TRUE(wait_row(t(), 22, s.prompt)) << tty_screen(t());
                // The cursor stands visible behind the prompt.
                EXPECT_TRUE(wait_query(t(), "#{cursor_y},#{cursor_x} #{cursor_flag}",
                                       "22," + std::to_string(std::string(s.prompt).size() + 1) +
                                           " 1"));
                tty_type(t(), s.answer);
                tty_keys(t(), {"Enter"});
            }
            // "z" only beeps: its beep tells that the step is done.
            tty_type(t(), "z");
            harness_poll([&] { return bells(log_->since()) >= s.beeps + 1; });
            const std::string sent = log_->since();
            EXPECT_EQ(bells(sent), s.beeps + 1) << printable(sent);
            const std::string before_z = sent.substr(0, sent.rfind('\a'));
            if (s.message[0] != '\0') {
                EXPECT_NE(before_z.find(s.message), std::string::npos) << printable(before_z);
            } else {
                for (const char *m : MESSAGES)
                    EXPECT_EQ(before_z.find(m), std::string::npos) << m << " in " << printable(before_z);
            }
            for (const std::string &text : s.shows)
                EXPECT_TRUE(tty_wait(t(), text)) << text << "\n" << tty_screen(t());
        }
        EXPECT_TRUE(wait_query(t(), "#{cursor_flag}", "0"));
        tty_type(t(), "q");
        EXPECT_EQ(tty_wait_exit(t()), 0);
    }

    std::string dir_;
    std::optional<tty> tty_;
    const tty &t() const { return *tty_; }
    std::unique_ptr<pane_log> log_;
};

TEST_F(KeysOnScreen, PagingKeys)
{
    ASSERT_NO_FATAL_FAILURE(start());
    walk({
        // Five spaces from page 1 of 3 turn at both ends.
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        {"Space", "", "", "page down", 0, {"page 3 of 3"}},
        {"Space", "", "", "page up", 0, {"page 2 of 3"}},
        {"Space", "", "", "page up", 0, {"page 1 of 3"}},
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        {"G", "", "", "last page", 0, {"page 3 of 3", "crit04"}},
        {"G", "", "", "", 0, {"page 3 of 3"}},
        {"+", "", "", "", 0, {"page 3 of 3"}},
        {"C-f", "", "", "", 0, {"page 3 of 3"}},
        {"-", "", "", "page up", 0, {"page 2 of 3"}},
        {"<", "", "", "page up", 0, {"page 1 of 3"}},
        {"C-b", "", "", "", 0, {"page 1 of 3"}},
        {"0", "", "", "", 0, {"page 1 of 3"}},
        {">", "", "", "page down", 0, {"page 2 of 3"}},
        {"C-f", "", "", "page down", 0, {"page 3 of 3"}},
        {"0", "", "", "first page", 0, {"page 1 of 3"}},
        {"+", "", "", "page down", 0, {"page 2 of 3"}},
        {"C-b", "", "", "page up", 0, {"page 1 of 3"}},
        // Keys of no command: printable ones beep, the others only redraw.
        {"#", "", "", "", 1, {"page 1 of 3"}},
        {"Escape", "", "", "", 0, {"page 1 of 3"}},
        {"IC", "", "", "", 0, {"page 1 of 3"}},
        {"C-a", "", "", "", 0, {"page 1 of 3"}},
    });
}

TEST_F(KeysOnScreen, ModeAndOrderKeys)
{
    ASSERT_NO_FATAL_FAILURE(start());
    walk({
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        {"o", "", "", "", 1, {"page 2 of 3", "30 Service Objects"}},
        {"w", "", "", "warning mode", 0, {"14 Alerts", "page 1 of 2"}},
        {"Space", "", "", "page down", 0, {"page 2 of 2"}},
        {"w", "", "", "", 1, {"page 2 of 2", "14 Alerts"}},
        {"c", "", "", "critical mode", 0, {"4 Alerts", "page 1 of 1"}},
        {"Space", "", "", "", 0, {"page 1 of 1"}},
        {"u", "", "", "up mode", 0, {"15 Host Objects", "page 1 of 2"}},
        {"G", "", "", "last page", 0, {"page 2 of 2"}},
        {"u", "", "", "", 1, {"page 2 of 2"}},
        {"d", "", "", "down mode", 0, {"2 Down Hosts", "page 1 of 1"}},
        {"s", "", "", "sort by age", 0, {"Sort: by age"}},
        {"t", "", "", "sort by name", 0, {"Sort: by name"}},
        {"o", "", "", "okay mode", 0, {"30 Service Objects", "page 1 of 3"}},
    });
}

TEST_F(KeysOnScreen, FilterPrompts)
{
    ASSERT_NO_FATAL_FAILURE(start());
    walk({
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        {"/", " Filter:", "ok1", "", 0, {"Filter: text =~ /ok1/", "page 1 of"}},
        {"v", " NegativeFilter:", "crit", "", 0, {"Filter: text !~ /crit/"}},
        // An empty answer turns its own filter off, not the other one.
        {"=", " Filter:", "", "", 0, {"Filter: text !~ /crit/"}},
        {"!", " NegativeFilter:", "", "", 0, {"Filter: none"}},
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        {"a", " AgeFilter:", "", "", 0, {"Age: any", "page 2 of 3"}},
        {"a", " AgeFilter:", "2 hrs", "", 0, {"Age: all < 2hr", "30 match the filter",
                                               "page 1 of 3"}},
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        // An empty age answer turns the filter off and keeps the page.
        {"a", " AgeFilter:", "", "", 0, {"Age: any", "page 2 of 3"}},
        {"a", " AgeFilter:", "0m", ": syntax error!", 1, {"Age: any", "page 2 of 3"}},
        {"A", " OkayAgeFilter:", "abc", ": syntax error!", 1, {"Age: any", "page 2 of 3"}},
        {"a", " AgeFilter:", "90", "", 0, {"Age: all < 90s", "page 1 of 3"}},
        // The okay-age filter replaces the age filter: the 16 OKAY services
        // changed a minute ago are hidden.
        {"A", " OkayAgeFilter:", "30", "", 0, {"Age: ok < 30s", "14 match the filter",
                                               "page 1 of 2"}},
        {"a", " AgeFilter:", "1d", "", 0, {"Age: all < 1d", "30 match the filter"}},
        {"f", " Filter:", "warn", "", 0, {"Filter: text =~ /warn/"}},
        {"x", "", "", "filter deleted", 0, {"Age: any", "Filter: none", "page 1 of 3"}},
        {"x", "", "", "", 0, {"Age: any", "Filter: none"}},
        {"u", "", "", "up mode", 0, {"15 Host Objects"}},
        {"A", " UpAgeFilter:", "abc", ": syntax error!", 1, {"Age: any"}},
        {"A", " UpAgeFilter:", "5m", "", 0, {"Age: up < 5m"}},
    });
}

TEST_F(KeysOnScreen, FunctionKeys)
{
    ASSERT_NO_FATAL_FAILURE(start());
    walk({
        {"Space", "", "", "page down", 0, {"page 2 of 3"}},
        // Both slots filled: the positive filter only.
        {"F2", "", "", "FkeyFilter: ok", 0, {"Filter: text =~ /ok/", "page 1 of"}},
        {"F3", "", "", "FkeyNegativeFilter: warn", 0, {"Filter: text !~ /warn/"}},
        {"F1", "", "", "no filter defined!", 1, {"Filter: text !~ /warn/"}},
        {"F12", "", "", "no filter defined!", 1, {"Filter: text !~ /warn/"}},
        {"x", "", "", "filter deleted", 0, {"Filter: none"}},
    });
}

// A line longer than 1023 characters is refused past the limit, and an
// 80-column screen does not cut it shorter.
TEST_F(KeysOnScreen, APromptTakesAtMost1023Characters)
{
    ASSERT_NO_FATAL_FAILURE(start());
    tty_type(t(), "/");
    ASSERT_TRUE(wait_row(t(), 22, " Filter:")) << tty_screen(t());
    log_->mark();
    tty_type(t(), std::string(1023, 'k'));
    tty_type(t(), "z");  // refused with a beep
    EXPECT_TRUE(log_->wait("\a")) << log_->since();
    EXPECT_EQ(bells(log_->since()), 1);
    tty_keys(t(), {"Enter"});
    EXPECT_TRUE(tty_wait(t(), "Filter: text =~ /kkkkkkkkkk")) << tty_screen(t());
    EXPECT_EQ(tty_screen(t()).find("kz"), std::string::npos) << tty_screen(t());
}

}  // namespace

namespace {

// What the prompts and function keys hand to the script's regex_hook: the
// text as typed or bound, without slashes of its own, at most 1023 long.
TEST(KeysRegexHook, ThePatternReachesTheHookAsTyped)
{
    const std::string dir = test_dir();
    write_defaults(dir, console_status(), R"PERL(
sub host_plugin_hook { return $_[0]; }
sub service_plugin_hook { return $_[0]; }
sub regex_hook {
    my ($text, $pattern, $mode) = @_;
    open(my $f, '>>', 'patterns.txt');
    print $f "$mode $pattern\n";
    close($f);
    return 0;
}
1;
)PERL");
    write_file(dir + "/.quelvanrc", "f4 text !~ /bound/\n");
    tty t = tty_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "page 1 of 3")) << tty_screen(t);
    const std::string patterns = dir + "/patterns.txt";
    auto wait_pattern = [&](const std::string &line) {
        return harness_poll([&] {
            const std::string seen = read_file(patterns);
            return seen.find("\n" + line + "\n") != std::string::npos ||
                   seen.rfind(line + "\n", 0) == 0;
        });
    };

    tty_type(t, "/");
    ASSERT_TRUE(wait_row(t, 22, " Filter:")) << tty_screen(t);
    tty_type(t, "/web|db/");
    tty_keys(t, {"Enter"});
    EXPECT_TRUE(wait_pattern("0 /web|db/")) << read_file(patterns);

    tty_type(t, "v");
    ASSERT_TRUE(wait_row(t, 22, " NegativeFilter:")) << tty_screen(t);
    tty_type(t, std::string(1100, 'n'));
    tty_keys(t, {"Enter"});
    EXPECT_TRUE(wait_pattern("1 " + std::string(1023, 'n'))) << read_file(patterns).size();

    tty_keys(t, {"F4"});
    EXPECT_TRUE(wait_pattern("1 bound")) << read_file(patterns);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

}  // namespace
