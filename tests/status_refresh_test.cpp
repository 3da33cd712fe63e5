// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh cycle in-process: the age lists, the release of every text,
// the debug log of a read, and the progress text on the command row.
#include "status_support.h"

#include <algorithm>
#include <curses.h>
#include <fcntl.h>
#include <random>

#include "screen/screen.h"

namespace {

// A stanza as a daemon writes it that gives no has_been_checked line: the
// times of an object that was never checked are then inferred from the
// other keys alone.
std::string without_checked(std::string stanza)
{
    stanza.erase(stanza.find("\thas_been_checked=1\n"), 20);
    return stanza;
}


const long CREATED = 1700000000;

// The age list as the insertion of one node at a time, in table order,
// behind every node of equal or greater age, builds it.
std::vector<int> inserted_order(const item *list, int size)
{
    struct node {
        int idx, age;
        node *next;
    };
    std::vector<node> nodes(static_cast<size_t>(size));
    node *head = nullptr;
    for (int i = 0; i < size; i++) {
        node *n = &nodes[static_cast<size_t>(i)];
        *n = {i, static_cast<int>(list[i].last_state_change), nullptr};
        if (!head) {
            head = n;
        } else if (head->age < n->age) {
            n->next = head;
            head = n;
        } else {
            node *p = head;
            while (p->next && p->next->age >= n->age)
                p = p->next;
            n->next = p->next;
            p->next = n;
        }
    }
    std::vector<int> order;
    for (node *p = head; p; p = p->next)
        order.push_back(p->idx);
    return order;
}

std::vector<int> list_order(const age_node *head, const item *list, const int *levels)
{
    std::vector<int> order;
    for (const age_node *n = head; n; n = n->next) {
        EXPECT_EQ(n->age, list[n->idx].last_state_change);
        EXPECT_EQ(n->level, levels[n->idx]);
        order.push_back(n->idx);
    }
    return order;
}

std::vector<int> host_order() { return list_order(hosts_by_age, host_list, host_idx_to_level); }

TEST(StatusRefresh, AgeListsNewestFirstWithTiesInTableOrder)
{
    status_enter();
    const std::vector<std::pair<std::vector<long>, std::vector<int>>> cases = {
        {{100, 300, 200}, {1, 2, 0}},
        {{50, 70, 50, 70}, {1, 3, 0, 2}},
        {{-5, 10, -1, 0}, {1, 3, 2, 0}},
        {{7}, {0}},
    };
    for (const auto &[ages, expected] : cases) {
        std::string stanzas;
        for (long a : ages)
            stanzas += host_stanza("h", 0, "ok", a);
        status_write(status_file(CREATED, stanzas));
        read_status();
        EXPECT_EQ(host_order(), expected);
    }
}

TEST(StatusRefresh, AgeListsMatchTheInsertionOnShuffledAgesWithManyTies)
{
    status_enter();
    std::mt19937 gen(3);
    for (int round = 0; round < 3; round++) {
        std::uniform_int_distribution<int> pick(0, 40);
        std::string hosts, services;
        const int n = 3000 + round * 1000;
        for (int i = 0; i < n; i++) {
            // Few distinct ages, negative ones, the creation time itself, and
            // PENDING objects that take the creation time as their age.
            int r = pick(gen);
            long age = r < 5 ? -r * 1000 : r < 10 ? CREATED : r < 12 ? 0 : CREATED - r * 7;
            hosts += host_stanza(std::string("h").append(std::to_string(i)), r % 3, r == 11 ? "" : "out", age);
            services += service_stanza("h", std::string("s").append(std::to_string(i)), r % 4,
                                       r == 10 ? "(Service assumed to be ok)" : "out",
                                       r == 10 ? 0 : age);
        }
        status_write(status_file(CREATED, hosts + services));
        read_status();
        ASSERT_EQ(host_list_size, n);
        ASSERT_EQ(service_list_size, n);
        EXPECT_EQ(host_order(), inserted_order(host_list, host_list_size));
        EXPECT_EQ(list_order(services_by_age, service_list, service_idx_to_level),
                  inserted_order(service_list, service_list_size));
    }
}

TEST(StatusRefresh, FewerItemsLeaveEveryRecordAboveAbsent)
{
    status_enter();
    std::string hosts, services;
    for (int i = 0; i < 50; i++) {
        hosts += host_stanza(std::string("h").append(std::to_string(i)), 1, "down", 100 + i);
        services += service_stanza("h", std::string("s").append(std::to_string(i)), 2, "bad", 100 + i);
    }
    status_write(status_file(CREATED, hosts + services));
    read_status();
    ASSERT_EQ(host_list_size, 50);
    status_write(status_file(CREATED, host_stanza("x", 0, "ok", 5) +
                                          service_stanza("x", "y", 0, "ok", 5)));
    read_status();
    EXPECT_EQ(host_list_size, 1);
    EXPECT_EQ(service_list_size, 1);
    EXPECT_EQ(num_down, 0);
    EXPECT_EQ(num_crit, 0);
    EXPECT_STREQ(host_list[0].host_name, "x");
    EXPECT_STREQ(service_list[0].service_description, "x y");
    for (const item *list : {host_list, service_list})
        for (int i = 1; i < MAX_ITEMS; i++) {
            const item &it = list[i];
            ASSERT_TRUE(!it.host_name && !it.service_description && !it.current_state &&
                        !it.last_change && !it.duration && !it.plugin_output)
                << i;
        }
    EXPECT_EQ(host_order(), std::vector<int>{0});
}

// Standard error of the process, captured while statement runs.
template <typename F>
std::string capture_stderr(F statement)
{
    const std::string path = std::filesystem::current_path().string() + "/stderr.txt";
    fflush(stderr);
    int saved = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    statement();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return read_file(path);
}

std::string crlf(const std::vector<std::string> &lines)
{
    std::string s;
    for (const auto &l : lines)
        s += l + "\r\n";
    return s;
}

TEST(StatusRefresh, DebugLogOfTwoReads)
{
    status_enter();
    status_write(status_file(1000, host_stanza("a", 0, "fine", 400) + without_checked(host_stanza("b", 2, "", 0)) +
                                       service_stanza("a", "web", 1, "slow", 900) +
                                       without_checked(service_stanza(
                                           "a", "new", 0, "(Service assumed to be ok)", 0))));
    const std::vector<std::string> read = {
        "read_v23_status()...",
        "status file is status.dat",
        "last update is Thu Jan  1 00:16:40 (1000)",
        "HOST NUMBER 0...",
        "  host_name is \"a\"",
        "  current_state is UP",
        "  raw plugin_output is \"fine\"",
        "  munged plugin_output is \"fine\"",
        "  last_state_change is \"Thu Jan  1 00:06\" (400)",
        "  duration is \"10m 0s\"",
        "HOST NUMBER 1...",
        "  host_name is \"b\"",
        "  current_state is (null)",
        "  raw plugin_output is \"\"",
        "  munged plugin_output is \"\"",
        "  current_state is PENDING, inferred from empty plugin output on Jan 1 1970",
        "  last_state_change is \" not applicable \" (1000)",
        "  duration is \"0m 0s\"",
        "SERVICE NUMBER 0...",
        "  host_name is \"a\"",
        "  raw service_description is \"web\"",
        "  munged service_description is \"a web\"",
        "  current_state is WARNING",
        "  last_state_change is \"Thu Jan  1 00:15\" (900)",
        "  duration is \"1m 40s\"",
        "  raw plugin_output is \"slow\"",
        "  munged plugin_output is \"slow\"",
        "SERVICE NUMBER 1...",
        "  host_name is \"a\"",
        "  raw service_description is \"new\"",
        "  munged service_description is \"a new\"",
        "  current_state is OKAY",
        "  last_state_change is \"Thu Jan  1 00:00\" (0)",
        "  duration is \"16m 40s\"",
        "  raw plugin_output is \"(Service assumed to be ok)\"",
        "  munged plugin_output is \"(Service assumed to be ok)\"",
        "  current_state is PENDING, inferred from \"(Service assumed to be ok)\" on Jan 1 1970",
        "done with read_v23_status()",
        "SERVICES BY AGE: idx=1 -> age=1000 host=b",
        "SERVICES BY AGE: idx=0 -> age=400 host=a",
        "SERVICES BY AGE: idx=1 -> age=1000 host=a svc=a new",
        "SERVICES BY AGE: idx=0 -> age=900 host=a svc=a web",
        "2 host objects, 1 up, 0 down",
        "2 service objects, 0 ok, 2 warn, 0 crit",
        "done with read_status()",
        "",
    };
    const std::vector<std::string> freeing = {
        "freeing host: [0,1] a",
        "freeing host: [0,2] (null)",
        "freeing host: [0,3] UP",
        "freeing host: [0,5] Thu Jan  1 00:06",
        "freeing host: [0,6] 10m 0s",
        "freeing host: [0,7] fine",
        "freeing host: [1,1] b",
        "freeing host: [1,2] (null)",
        "freeing host: [1,3] PENDING",
        "freeing host: [1,5]  not applicable ",
        "freeing host: [1,6] 0m 0s",
        "freeing host: [1,7] (Host assumed to be up)",
        "freeing service: [0,1] a",
        "freeing service: [0,2] a web",
        "freeing service: [0,3] WARNING",
        "freeing service: [0,5] Thu Jan  1 00:15",
        "freeing service: [0,6] 1m 40s",
        "freeing service: [0,7] slow",
        "freeing service: [1,1] a",
        "freeing service: [1,2] a new",
        "freeing service: [1,3] PENDING",
        "freeing service: [1,5]  not applicable ",
        "freeing service: [1,6] 0m 0s",
        "freeing service: [1,7] (Service assumed to be ok)",
    };
    debugging = 1;
    std::string log = capture_stderr([] {
        read_status();
        read_status();
    });
    debugging = 0;
    EXPECT_EQ(log, crlf({"read_status()..."}) + crlf(read) + crlf({"read_status()..."}) +
                       crlf(freeing) + crlf(read));

    for (int level : {0, 2}) {
        debugging = level;
        EXPECT_EQ(capture_stderr([] { read_status(); }), "") << level;
    }
    debugging = 0;
}

TEST(StatusRefresh, DebugLogWithoutHostsHasNoHostAgeLines)
{
    status_enter();
    status_write(status_file(1000, service_stanza("a", "s", 0, "ok", 10)));
    debugging = 1;
    std::string log = capture_stderr([] { read_status(); });
    debugging = 0;
    EXPECT_NE(log.find("done with read_v23_status()\r\n"
                       "SERVICES BY AGE: idx=0 -> age=10 host=a svc=a s\r\n"
                       "0 host objects, 0 up, 0 down\r\n"
                       "1 service objects, 1 ok, 0 warn, 0 crit\r\n"),
              std::string::npos)
        << log;
}

TEST(StatusRefresh, DebugLogOfNeverCheckedObjects)
{
    status_enter();
    std::string host = host_stanza("a", 0, "", 900);
    std::string service = service_stanza("a", "s", 0, "", 900);
    for (std::string *s : {&host, &service})
        s->replace(s->find("has_been_checked=1"), 18, "has_been_checked=0");
    status_write(status_file(1000, host + service));
    debugging = 1;
    std::string log = capture_stderr([] { read_status(); });
    debugging = 0;
    EXPECT_NE(log.find("  munged plugin_output is \"\"\r\n"
                       "  current_state is PENDING, inferred from has_been_checked=0\r\n"
                       "  last_state_change is \" not applicable \" (1000)\r\n"
                       "  duration is \"0m 0s\"\r\n"
                       "SERVICE NUMBER 0...\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("  munged plugin_output is \"\"\r\n"
                       "  current_state is PENDING, inferred from has_been_checked=0\r\n"
                       "done with read_v23_status()\r\n"),
              std::string::npos)
        << log;
}

// The reader's progress text and the refresh's "done" on the command row,
// drawn by curses on a terminal of its own.
TEST(StatusRefresh, CommandRowReadsReadingThenDone)
{
    status_enter();
    status_write(status_file(CREATED, host_stanza("a", 0, "ok", 5)));
    FILE *out = fopen("/dev/null", "w");
    FILE *in = fopen("/dev/null", "r");
    SCREEN *screen = newterm("xterm-256color", out, in);
    ASSERT_NE(screen, nullptr);
    draw_start_colors();
    curses_active = true;
    for (int p : {1, 3}) {
        for (int c : {0, 1}) {
            pad = p;
            color = c;
            wclear(stdscr);
            wattrset(stdscr, A_NORMAL);
            read_status();
            char row[128] = {};
            mvwinnstr(stdscr, LINES - p - 1, 0, row, 60);
            EXPECT_EQ(std::string(row).substr(0, p + 25),
                      std::string(p, ' ') + "reading status.dat...done")
                << p << " " << c;
            EXPECT_EQ(getattrs(stdscr) & A_COLOR, c ? COLOR_PAIR(4) : 0) << c;
        }
    }
    endwin();
    curses_active = false;
    delscreen(screen);
    fclose(out);
    fclose(in);
    pad = 1;
    color = 0;
}

}  // namespace

namespace {

// Repeated refreshes hold the same heap: every text, node and buffer of a
// refresh is released or reused by the next one, and the hooks keep nothing.
TEST(StatusRefresh, RepeatedRefreshesDoNotGrowTheHeap)
{
    status_enter();
    std::string stanzas;
    for (int i = 0; i < 20000; i++)
        stanzas += host_stanza("host-" + std::to_string(i), i % 2, "output " + std::to_string(i),
                               CREATED - i) +
                   service_stanza("host-" + std::to_string(i), "svc", i % 4,
                                  std::string(static_cast<size_t>(i % 300), 'o'), CREATED - 7 * i);
    status_write(status_file(CREATED, stanzas));
    status_refresh();
    status_refresh();
    const size_t settled = harness_heap_in_use();
    ASSERT_GT(settled, 0u) << "no heap figures in this build";
    for (int k = 0; k < 4; k++)
        status_refresh();
    const size_t after = harness_heap_in_use();
    EXPECT_LE(after, settled + 64 * 1024) << settled << " -> " << after;
    EXPECT_EQ(host_list_size, 20000);
    EXPECT_EQ(service_list_size, 20000);
}

}  // namespace
