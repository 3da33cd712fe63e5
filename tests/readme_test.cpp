// The README tells the truth: its screen is what the console shows on the
// shipped sample files, and its hook script example works.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"

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

TEST(Readme, ScreenIsTheConsoleOnTheSampleFiles)
{
    const std::string shown = readme_block("The screen", "");
    ASSERT_FALSE(shown.empty()) << "no screen block under \"## The screen\"";

    const std::string dir = readme_sample_dir();
    tty t = tty_start(dir, {}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:", 10000)) << tty_screen(t) << tty_stderr(t);
    std::string screen;
    for (int r = 0; r < 24; r++)
        screen += tty_row(t, r) + "\n";
    EXPECT_EQ(screen, shown);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(Readme, TriageScreenShowsTheMarksOfTheSampleFiles)
{
    const std::string shown = readme_block("Triage", "");
    ASSERT_FALSE(shown.empty()) << "no screen block under \"## Triage\"";

    const std::string dir = readme_sample_dir();
    tty t = tty_start(dir, {}, 80, 24);
    ASSERT_TRUE(tty_wait(t, "Command:", 10000)) << tty_screen(t) << tty_stderr(t);
    tty_type(t, "d");
    ASSERT_TRUE(tty_wait(t, "Down Hosts", 10000)) << tty_screen(t);
    ASSERT_TRUE(tty_wait_gone(t, "down mode", 10000)) << tty_screen(t);
    std::string screen;
    for (int r = 0; r < 24; r++)
        screen += tty_row(t, r) + "\n";
    EXPECT_EQ(screen, shown);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
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
    ASSERT_TRUE(tty_wait(t, "Command:", 10000)) << tty_screen(t) << tty_stderr(t);
    const std::string screen = tty_screen(t);
    EXPECT_NE(screen.find("CRITICAL - Packet loss = 100%"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("PING"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("web-01"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" 1 matches the filter"), std::string::npos) << screen;

    // A pattern Perl cannot compile shows everything instead of ending.
    tty_type(t, "/");
    ASSERT_TRUE(tty_wait(t, "Filter:")) << tty_screen(t);
    tty_type(t, "(unclosed");
    tty_keys(t, {"Enter"});
    ASSERT_TRUE(tty_wait(t, "OK - Packet loss = 0%", 10000)) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

}  // namespace
