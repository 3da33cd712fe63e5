// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up and shutdown in a real terminal.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

TEST(StartUp, QuitLeavesStatusZeroAndNoOutput)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000));
    tty t = tty_start(dir, {});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
    EXPECT_EQ(tty_stderr(t), "");
}

TEST(StartUp, CtrlDQuits)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000));
    tty t = tty_start(dir, {"-b"});
    ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    tty_keys(t, {"C-d"});
    EXPECT_EQ(tty_wait_exit(t), 0);
}

TEST(StartUp, DebugBannerOnlyWithOneD)
{
    const std::string dir = test_dir();
    write_defaults(dir, status_file(1700000000));
    {
        tty t = tty_start(dir, {"-d", "-i", "7", "-p", "2", "-P", "3"});
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        tty_type(t, "q");
        ASSERT_EQ(tty_wait_exit(t), 0);
        EXPECT_EQ(tty_stderr(t).rfind("Quelvan version " QUELVAN_VERSION "\r\n"
                                      "polling interval is 7 seconds\r\n"
                                      "pad is 2, header_pad is 3\r\n"
                                      "\r\n",
                                      0),
                  0u)
            << tty_stderr(t);
    }
    {
        tty t = tty_start(dir, {"-d", "-d"});
        ASSERT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
        tty_type(t, "q");
        ASSERT_EQ(tty_wait_exit(t), 0);
        EXPECT_EQ(tty_stderr(t), "");
    }
}

}  // namespace
