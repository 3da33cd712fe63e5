// SPDX-License-Identifier: GPL-2.0-or-later
// The Livestatus reader's rows into the tables, in process: a large reply is
// read in batches, and whatever the batches meet, the tables hold what a
// reading of the whole reply gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "livestatus/livestatus.h"
#include "status_support.h"

namespace {

livestatus_reply read_reply(const std::string &body)
{
    livestatus_reply r;
    r.status = 200;
    r.length = body.size();
    r.body.assign(body.begin(), body.end());
    r.body.resize(body.size() + LIVESTATUS_PADDING, '\0');
    return r;
}

// count hosts and as many services (one each), the rows joined by between;
// inner goes between a row's last two cells, the acknowledgement and the
// downtime, each a list (which the reader takes for no mark) so that a
// line break there follows a "]" and comes before a "[" as between rows.
livestatus_fetched read_replies(int count, const std::string &between,
                                const std::string &inner = ",")
{
    std::string hosts = "[", services = "[";
    for (int i = 0; i < count; i++) {
        const std::string n = std::to_string(i);
        const std::string state = std::to_string(i % 3);
        if (i) {
            hosts += between;
            services += between;
        }
        hosts += "[\"host-" + n + "\"," + state + ",1,\"PING output of host " + n +
                 "\",1765390000,[" + std::to_string(i % 2) + "]" + inner + "[0]]";
        services += "[\"host-" + n + "\",\"HTTP\"," + state +
                    ",1,\"HTTP output of service " + n + "\",1765390000,[0]" + inner + "[" +
                    std::to_string(i % 2) + "]]";
    }
    livestatus_fetched f;
    f.status = read_reply("[[1765380000]]\n");
    f.hosts = read_reply(hosts + "]\n");
    f.services = read_reply(services + "]\n");
    f.now = 1765400000;
    return f;
}

// The tables' items as texts, for comparison.
std::vector<std::string> read_items()
{
    std::vector<std::string> items;
    for (int i = 0; i < host_list_size; i++)
        items.push_back(status_str(host_list[i].host_name) + "|" +
                        status_str(host_list[i].plugin_output) + "|" +
                        std::to_string(host_idx_to_level[i]) + "|" +
                        std::to_string(host_idx_to_marks[i]));
    for (int i = 0; i < service_list_size; i++)
        items.push_back(status_str(service_list[i].service_description) + "|" +
                        status_str(service_list[i].plugin_output) + "|" +
                        std::to_string(service_idx_to_level[i]) + "|" +
                        std::to_string(service_idx_to_marks[i]));
    return items;
}

// 40,000 rows make replies of several batches.
constexpr int ROWS = 40000;

TEST(LivestatusRead, LargeRepliesGiveTheRowsOfTheWholeReply)
{
    status_enter();
    std::string why;
    ASSERT_TRUE(livestatus_fill(read_replies(ROWS, ","), why)) << why;
    const std::vector<std::string> whole = read_items();
    ASSERT_EQ(whole.size(), 2u * ROWS);
    EXPECT_EQ(whole.front(), "host-0|PING output of host 0|0|0");
    EXPECT_EQ(whole.back(), "host-39999 HTTP|HTTP output of service 39999|0|0");
    EXPECT_EQ(whole[ROWS + 1], "host-1 HTTP|HTTP output of service 1|1|0");

    struct layout {
        const char *name;
        std::string between, inner;
    } layouts[] = {
        {"one row a line", ",\n", ","},
        {"blanks around the line breaks", " ,\n  ", ","},
        // Each row's last two cells are lists across a line break: every
        // place where a batch could end is inside a row.
        {"line breaks only inside rows", ",", ",\n"},
        {"line breaks inside and between rows", ",\n", ",\n"},
    };
    for (const layout &l : layouts) {
        SCOPED_TRACE(l.name);
        ASSERT_TRUE(livestatus_fill(read_replies(ROWS, l.between, l.inner), why)) << why;
        EXPECT_EQ(read_items(), whole);
        EXPECT_EQ(livestatus_descriptions.size(), static_cast<size_t>(ROWS));
    }
}

TEST(LivestatusRead, AFaultLateInALargeReplyFailsTheRead)
{
    status_enter();
    std::string why;
    livestatus_fetched f = read_replies(ROWS, ",\n");
    // A row near the end without its closing quote.
    std::string hosts(f.hosts.body.data(), f.hosts.length);
    const size_t at = hosts.rfind("\"PING output of host 39990\"");
    ASSERT_NE(at, std::string::npos);
    hosts.erase(at + 26, 1);
    f.hosts = read_reply(hosts);
    EXPECT_FALSE(livestatus_fill(f, why));
    EXPECT_EQ(why, "the hosts reply does not parse");

    // A row of too few columns late in the services.
    f = read_replies(ROWS, ",\n");
    std::string services(f.services.body.data(), f.services.length);
    const size_t row = services.rfind("[\"host-39995\",\"HTTP\",");
    ASSERT_NE(row, std::string::npos);
    services.erase(row + 14, 7);  // "\"HTTP\","
    f.services = read_reply(services);
    EXPECT_FALSE(livestatus_fill(f, why));
    EXPECT_EQ(why, "the services reply has rows of 7 columns, not 8");
}

}  // namespace
