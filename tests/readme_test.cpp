// SPDX-License-Identifier: GPL-2.0-or-later
// The README tells the truth: its screen is what the console shows on the
// shipped sample files, its hook script example works, and its set-up
// commands are the scripts, installing what it says they install.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

#include "frame/frame.h"
#include "harness.h"
#include "quelvan.h"

namespace fs = std::filesystem;

namespace {

std::string readme()
{
    return read_file(std::string(QUELVAN_SOURCE_DIR) + "/README.md");
}

// The first fenced block (```tag) after the heading, without its fences.
std::string readme_block(const std::string &heading, const std::string &tag)
{
    const std::string text = readme();
    size_t at = text.find("\n## " + heading + "\n");
    if (at == std::string::npos)
        return "";
    size_t open = text.find("\n```" + tag + "\n", at);
    if (open == std::string::npos)
        return "";
    open += 5 + tag.size();
    size_t close = text.find("\n```\n", open - 1);
    if (close == std::string::npos)
        return "";
    return text.substr(open, close + 1 - open);
}

// A working directory with the shipped samples: status file, hook script,
// help file and configuration.
std::string readme_sample_dir()
{
    const std::string dir = test_dir();
    const std::string sample = std::string(QUELVAN_SOURCE_DIR) + "/sample";
    write_file(status_path(dir), read_file(sample + "/status.dat"));
    write_file(hook_path(dir), read_file(sample + "/etc/quelvan.pl"));
    write_file(help_path(dir), read_file(sample + "/etc/quelvan.help"));
    write_file(system_rc_path_in(dir), read_file(sample + "/etc/quelvanrc"));
    return dir;
}

// The section under the heading, up to the next one.
std::string readme_section(const std::string &heading)
{
    const std::string text = readme();
    size_t at = text.find("\n## " + heading + "\n");
    if (at == std::string::npos)
        return "";
    size_t end = text.find("\n## ", at + 1);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::vector<std::string> readme_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The words in backquotes, in order.
std::vector<std::string> readme_quoted(const std::string &text)
{
    std::vector<std::string> words;
    for (size_t at = text.find('`'); at != std::string::npos; at = text.find('`', at + 1)) {
        size_t end = text.find('`', at + 1);
        if (end == std::string::npos)
            break;
        words.push_back(text.substr(at + 1, end - at - 1));
        at = end;
    }
    return words;
}

std::set<std::string> readme_words(const std::string &text)
{
    std::set<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.insert(w);
    return words;
}

const char *const SETUP = "Set-up on a fresh Debian 12 or 13 machine";

TEST(Readme, SetUpCommandsAreTheScripts)
{
    const std::string setup = readme_section(SETUP);
    ASSERT_FALSE(setup.empty()) << "no section \"## " << SETUP << "\"";
    std::vector<std::string> commands;
    for (const auto &line : readme_lines(setup))
        if (line.rfind("    ", 0) == 0)
            commands.push_back(line.substr(4));
    EXPECT_EQ(commands, (std::vector<std::string>{"scripts/demo", "scripts/test"}));
    for (const auto &c : commands) {
        const fs::path script = fs::path(QUELVAN_SOURCE_DIR) / c;
        EXPECT_TRUE(fs::is_regular_file(script)) << c;
        EXPECT_NE(fs::status(script).permissions() & fs::perms::owner_exec, fs::perms::none) << c;
    }
}

// Each row of the set-up table: the command's script asks install-deps for
// the purpose named, and the packages named are exactly that purpose's.
TEST(Readme, SetUpTableNamesWhatEachCommandInstalls)
{
    std::set<std::string> seen;
    for (const auto &line : readme_lines(readme_section(SETUP))) {
        if (line.rfind("| `scripts/", 0) != 0)
            continue;
        SCOPED_TRACE(line);
        const size_t bar = line.find('|', 1), bar2 = line.find('|', bar + 1);
        ASSERT_NE(bar2, std::string::npos);
        const std::vector<std::string> command = readme_quoted(line.substr(0, bar));
        std::vector<std::string> installs = readme_quoted(line.substr(bar, bar2 - bar));
        ASSERT_EQ(command.size(), 1u);
        ASSERT_GE(installs.size(), 2u);
        const std::string purpose = installs[0];
        seen.insert(command[0]);

        const std::string name = command[0].substr(0, command[0].find(' '));
        const std::string script = read_file(std::string(QUELVAN_SOURCE_DIR) + "/" + name);
        EXPECT_NE(script.find(std::string("scripts/install-deps\" ").append(purpose)),
                  std::string::npos)
            << name << " does not install the purpose " << purpose;

        int status = -1;
        const std::string listed = harness_sh(
            std::string("'" QUELVAN_SOURCE_DIR "/scripts/install-deps' --list ").append(purpose),
            &status);
        ASSERT_EQ(status, 0) << listed;
        installs.erase(installs.begin());
        EXPECT_EQ(std::set<std::string>(installs.begin(), installs.end()), readme_words(listed));
    }
    EXPECT_EQ(seen, (std::set<std::string>{"scripts/demo", "scripts/demo --live", "scripts/test"}));
}

// The clock's time of a "no answer since HH:MM:SS" line as "HH:MM:SS": the
// one text of a screen that differs from run to run.
std::string readme_mask_since(std::string screen)
{
    const std::string since = "no answer since ";
    for (size_t at = screen.find(since); at != std::string::npos;
         at = screen.find(since, at + 1)) {
        const size_t t = at + since.size();
        const std::string when = screen.substr(t, 8);
        const bool clock = when.size() == 8 && when[2] == ':' && when[5] == ':' &&
                           std::all_of(when.begin(), when.end(), [](char c) {
                               return c == ':' || (c >= '0' && c <= '9');
                           });
        if (clock)
            screen.replace(t, 8, "HH:MM:SS");
    }
    return screen;
}

// The console on the sample files, 80x24, after the given keys and once the
// message they show is gone, is the screen block under the README heading;
// the keys leave end the console. The lines of rc are added to the sample
// configuration.
void readme_expect_screen(const std::string &heading, const std::string &keys,
                          const std::string &shows, const std::string &message,
                          const std::string &leave = "q", const std::string &rc = "")
{
    const std::string shown = readme_block(heading, "");
    ASSERT_FALSE(shown.empty()) << "no screen block under \"## " << heading << "\"";

    const std::string dir = readme_sample_dir();
    if (!rc.empty())
        write_file(system_rc_path_in(dir), read_file(system_rc_path_in(dir)) + rc);
    tty t = tty_start(dir, {}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t) << tty_stderr(t);
    if (!keys.empty()) {
        tty_type(t, keys);
        ASSERT_TRUE(tty_wait(t, shows)) << tty_screen(t);
        ASSERT_TRUE(tty_wait_gone(t, message)) << tty_screen(t);
    }
    std::string screen;
    for (int r = 0; r < 24; r++)
        screen += tty_row(t, r) + "\n";
    EXPECT_EQ(readme_mask_since(screen), readme_mask_since(shown));
    tty_type(t, leave);
    EXPECT_EQ(tty_wait_exit(t), 0);
}

// The configuration section's example lines are statements the console
// takes, the command pipe's among them.
TEST(Readme, ConfigurationExamplesAreStatements)
{
    std::string statements;
    for (const auto &line : readme_lines(readme_section("Configuration")))
        if (line.rfind("    default ", 0) == 0 || line.rfind("    f", 0) == 0)
            statements += line.substr(4) + "\n";
    for (const char *key : {"default command_file = ", "default ack = ", "default ack_notify = "})
        EXPECT_NE(statements.find(key), std::string::npos) << key;
    const std::string rc = test_dir() + "/quelvanrc";
    write_file(rc, statements);
    settings_reset();
    testing::internal::CaptureStdout();
    read_dot_file(rc.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << statements;
    EXPECT_STREQ(command_file, "/var/lib/nagios4/rw/nagios.cmd");
    settings_reset();
}

TEST(Readme, ScreenIsTheConsoleOnTheSampleFiles)
{
    readme_expect_screen("The screen", "", "", "");
}

TEST(Readme, TriageScreenShowsTheMarksOfTheSampleFiles)
{
    readme_expect_screen("Triage", "d", "Down Hosts", "down mode");
}

TEST(Readme, DetailScreenIsThatOfTheSampleHost)
{
    // "q" goes back to the list, the second quits.
    readme_expect_screen("The detail screen", "u/mail-03\r\r", "Host Detail", "up mode", "qq");
}

// Two sites: the sample file and a Livestatus site whose socket is not
// there. The statements are the section's own.
TEST(Readme, SitesScreenShowsTheSampleSiteAndOneWithoutAnswer)
{
    const std::string statements[] = {"site berlin = status:status.dat",
                                       "site paris = livestatus:run/paris.sock"};
    const std::string section = readme_section("Several sites");
    std::string rc;
    for (const std::string &s : statements) {
        EXPECT_NE(section.find("\n    " + s + "\n"), std::string::npos) << s;
        rc += s + "\n";
    }
    readme_expect_screen("Several sites", "", "", "", "q", rc);
}

TEST(Readme, HookScriptExampleWorks)
{
    const std::string hook = readme_block("The hook script", "perl");
    ASSERT_FALSE(hook.empty()) << "no perl block under \"## The hook script\"";

    const std::string dir = test_dir();
    write_defaults(dir,
                   status_file(1700000000,
                               host_stanza("web-01", 0, "PING OK - Packet loss = 0%", 1699999000) +
                                   host_stanza("db-01", 1, "PING CRITICAL - Packet loss = 100%",
                                               1699999500)),
                   hook);
    // The host hook shortens the outputs; the regex hook makes the filter.
    tty t = tty_start(dir, {"-m", "h", "-g", "/CRITICAL/"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t) << tty_stderr(t);
    const std::string screen = tty_screen(t);
    EXPECT_NE(screen.find("CRITICAL - Packet loss = 100%"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("PING"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("web-01"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" 1 matches the filter"), std::string::npos) << screen;

    // A pattern Perl cannot compile shows everything instead of ending.
    tty_type(t, "/");
    // The header reads "Filter:" too: the prompt is on the command row.
    ASSERT_TRUE(tty_wait_row(t, tty_command_row(24), " Filter:")) << tty_screen(t);
    tty_type(t, "(unclosed");
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "OK - Packet loss = 0%")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

}  // namespace
