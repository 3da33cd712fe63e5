// SPDX-License-Identifier: GPL-2.0-or-later
// Paging through the real binary: the last page, a page past the end after
// a re-read that finds fewer items, and page 0 after one that finds none.
#include <string>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

constexpr long NOW = 1700000000;

std::string services(int n)
{
    std::string stanzas;
    for (int i = 0; i < n; i++) {
        char name[16];
        snprintf(name, sizeof name, "svc%02d", i);
        stanzas += service_stanza("host", name, 0, "OK", NOW - 60);
    }
    return status_file(NOW, stanzas);
}

// Waits for the page text and returns the name of the first item row.
std::string page_shows(const tty &t, const std::string &page)
{
    EXPECT_TRUE(tty_wait(t, page)) << tty_screen(t);
    EXPECT_TRUE(tty_wait(t, "Command:")) << tty_screen(t);
    std::string row = tty_row(t, 7);
    return row.size() > 11 ? row.substr(11, 10) : row;
}

TEST(ScreenPaging, LastPageAndPastTheEndAfterARead)
{
    const std::string dir = test_dir();
    write_defaults(dir, services(30));
    tty t = tty_start(dir, {}, 80, 24);
    EXPECT_EQ(page_shows(t, "page 1 of 3"), "host svc00");

    tty_type(t, "G");
    EXPECT_EQ(page_shows(t, "page 3 of 3"), "host svc26");
    EXPECT_EQ(tty_row(t, 10).substr(11, 10), "host svc29");
    EXPECT_EQ(tty_row(t, 11), "");

    // Fewer items: the page check brings the page back to the last one.
    write_file(status_path(dir), services(15));
    tty_type(t, "r");
    EXPECT_EQ(page_shows(t, "page 2 of 2"), "host svc13");
    EXPECT_EQ(tty_row(t, 8).substr(11, 10), "host svc14");
    EXPECT_EQ(tty_row(t, 9), "");

    // None at all: page 0 of 0 and no item row.
    write_file(status_path(dir), services(0));
    tty_type(t, "r");
    EXPECT_EQ(page_shows(t, "page 0 of 0"), "");
    // Nowhere to page to: the keys leave page 0 as it is (seen below).
    tty_type(t, "+- 0G");

    // Items again: page 0 stands and shows the first page's items; "+"
    // goes to page 1, then to page 2.
    write_file(status_path(dir), services(30));
    tty_type(t, "r");
    EXPECT_EQ(page_shows(t, "page 0 of 3"), "host svc00");
    tty_type(t, "+");
    EXPECT_EQ(page_shows(t, "page 1 of 3"), "host svc00");
    tty_type(t, "+");
    EXPECT_EQ(page_shows(t, "page 2 of 3"), "host svc13");

    tty_type(t, "q");
    EXPECT_EQ(tty_wait_exit(t), 0);
}

}  // namespace
