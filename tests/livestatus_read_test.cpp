// SPDX-License-Identifier: GPL-2.0-or-later
// The Livestatus reader's rows into the tables, in process: a large reply is
// read in batches, held plain or packed as the wire holds a large site's,
// and whatever the batches meet, the tables hold what a reading of the
// whole reply gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fault_server.h"
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

// count hosts and as many services (one each), the rows joined by between,
// each opened by open; inner goes between a row's last two cells, the
// acknowledgement and the downtime, each a list of a number (which the
// reader takes for no mark), and tail ends each output. A reply is cut
// into batches only where a "[" and a quote follow a "]" and a comma: with
// open "[ " it is walked whole.
livestatus_fetched read_replies(int count, const std::string &between,
                                const std::string &inner = ",", const std::string &open = "[",
                                const std::string &tail = "")
{
    std::string hosts = "[", services = "[";
    for (int i = 0; i < count; i++) {
        const std::string n = std::to_string(i);
        const std::string state = std::to_string(i % 3);
        if (i) {
            hosts += between;
            services += between;
        }
        hosts += open + "\"host-" + n + "\"," + state + ",1,\"PING output of host " + n + tail +
                 "\",1765390000,[" + std::to_string(i % 2) + "]" + inner + "[0]]";
        services += open + "\"host-" + n + "\",\"HTTP\"," + state +
                    ",1,\"HTTP output of service " + n + tail + "\",1765390000,[0]" + inner + "[" +
                    std::to_string(i % 2) + "]]";
    }
    livestatus_fetched f;
    f.status = read_reply("[[1765380000]]\n");
    f.hosts = read_reply(hosts + "]\n");
    f.services = read_reply(services + "]\n");
    f.now = 1765400000;
    return f;
}

// The replies as the wire holds a large site's: each table's body sent by
// a peer and packed as it came.
livestatus_fetched read_packed(livestatus_fetched f)
{
    const std::string dir = test_dir();
    fault_server server = fault_start(dir + "/live");
    site s{};
    s.kind = SITE_LIVESTATUS_UNIX;
    text_copy(s.path, server.path.c_str());
    for (livestatus_reply *r : {&f.hosts, &f.services}) {
        fault_set_answer(server, 200, std::string(r->body.data(), r->length));
        int fd = -1;
        std::string why;
        EXPECT_TRUE(livestatus_query(fd, s, "GET hosts\n\n", livestatus_now_ms() + 20000, *r,
                                     why, 0))
            << why;
        livestatus_close(fd);
        EXPECT_GT(r->packed_length, 0u);
        EXPECT_LT(r->packed_length, r->length / 4) << "the rows pack well";
        EXPECT_TRUE(r->body.empty());
    }
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

// Each output ends as a row does before the next ("], [" and the quote
// that closes the text): a batch cut there is tried at the next place.
const std::string TAIL = "], [";

TEST(LivestatusRead, LargeRepliesGiveTheRowsOfTheWholeReply)
{
    status_enter();
    std::string why;
    livestatus_fetched uncut = read_replies(ROWS, ",", ",", "[ ", TAIL);
    ASSERT_TRUE(livestatus_check(uncut, why)) << why;
    EXPECT_TRUE(uncut.whole) << "no place to cut";
    ASSERT_TRUE(livestatus_fill(uncut, why)) << why;
    const std::vector<std::string> whole = read_items();
    ASSERT_EQ(whole.size(), 2u * ROWS);
    EXPECT_EQ(whole.front(), "host-0|PING output of host 0], [|0|0");
    EXPECT_EQ(whole.back(), "host-39999 HTTP|HTTP output of service 39999], [|0|0");
    EXPECT_EQ(whole[ROWS + 1], "host-1 HTTP|HTTP output of service 1], [|1|0");

    struct layout {
        const char *name;
        std::string between, inner;
    } layouts[] = {
        {"all on one line", ",", ","},
        {"one line, a blank after each comma (Icinga 2)", ", ", ", "},
        {"one row a line", ",\n", ","},
        {"blanks around the line breaks", " ,\n  ", ","},
        {"line breaks inside rows too", ",\n", ",\n"},
    };
    for (const layout &l : layouts) {
        for (const bool packed : {false, true}) {
            SCOPED_TRACE(std::string(l.name) + (packed ? ", packed" : ", plain"));
            livestatus_fetched f = read_replies(ROWS, l.between, l.inner, "[", TAIL);
            if (packed)
                f = read_packed(f);
            // Checked first, as a fetch's thread does, then filled; a
            // batch tried at a text's end leaves no reason behind.
            why.clear();
            ASSERT_TRUE(livestatus_check(f, why)) << why;
            EXPECT_EQ(why, "");
            EXPECT_FALSE(f.whole) << "in batches, wherever the rows end";
            ASSERT_TRUE(livestatus_fill(f, why)) << why;
            EXPECT_EQ(why, "");
            EXPECT_EQ(read_items(), whole);
            EXPECT_EQ(livestatus_descriptions.size(), static_cast<size_t>(ROWS));
        }
    }
    // Not checked first, a fill judges the replies itself.
    ASSERT_TRUE(livestatus_fill(read_replies(ROWS, ", ", ",", "[", TAIL), why)) << why;
    EXPECT_EQ(read_items(), whole);
}

// Rows longer than a batch, here and there: the walk takes in more of the
// body until a row's end comes, plain or packed.
TEST(LivestatusRead, RowsLongerThanABatchAreWalkedWhole)
{
    status_enter();
    auto lengthen = [](livestatus_fetched f) {
        for (livestatus_reply *r : {&f.hosts, &f.services}) {
            std::string body(r->body.data(), r->length);
            for (const char *at : {"output of host 100\"", "output of service 100\"",
                                   "output of host 39999\"", "output of service 39999\""}) {
                const size_t p = body.find(at);
                if (p != std::string::npos)
                    body.insert(p + strlen(at) - 1, std::string(200 * 1024, 'x'));
            }
            r->body.assign(body.begin(), body.end());
            r->body.resize(body.size() + LIVESTATUS_PADDING, '\0');
            r->length = body.size();
        }
        return f;
    };
    std::string why;
    livestatus_fetched uncut = lengthen(read_replies(ROWS, ", ", ",", "[ "));
    ASSERT_TRUE(livestatus_check(uncut, why)) << why;
    EXPECT_TRUE(uncut.whole) << "no place to cut";
    ASSERT_TRUE(livestatus_fill(uncut, why)) << why;
    const std::vector<std::string> whole = read_items();
    ASSERT_EQ(whole.size(), 2u * ROWS);
    EXPECT_NE(whole[100].find("xxxx"), std::string::npos) << "the long text is there, cut";

    const livestatus_fetched f = lengthen(read_replies(ROWS, ", "));
    for (const bool packed : {false, true}) {
        SCOPED_TRACE(packed ? "packed" : "plain");
        livestatus_fetched g = packed ? read_packed(f) : f;
        ASSERT_TRUE(livestatus_check(g, why)) << why;
        EXPECT_FALSE(g.whole) << "read in batches";
        ASSERT_TRUE(livestatus_fill(g, why)) << why;
        EXPECT_EQ(read_items(), whole);
    }
}

TEST(LivestatusRead, AFaultLateInALargeReplyFailsTheRead)
{
    status_enter();
    const struct {
        bool hosts;
        const char *row;     // where the fault is made: the last row of this text
        size_t at, cut;      // cut bytes taken out at this offset in it
        const char *why;
    } faults[] = {
        // A row near the end without its closing quote.
        {true, "\"PING output of host 39990\"", 26, 1, "the hosts reply does not parse"},
        // A row of too few columns late in the services: "\"HTTP\"," taken out.
        {false, "[\"host-39995\",\"HTTP\",", 14, 7,
         "the services reply has rows of 7 columns, not 8"},
    };
    for (const bool packed : {false, true}) {
        for (const auto &fault : faults) {
            SCOPED_TRACE(std::string(fault.why) + (packed ? ", packed" : ", plain"));
            livestatus_fetched f = read_replies(ROWS, ",\n");
            livestatus_reply &r = fault.hosts ? f.hosts : f.services;
            std::string body(r.body.data(), r.length);
            const size_t at = body.rfind(fault.row);
            ASSERT_NE(at, std::string::npos);
            body.erase(at + fault.at, fault.cut);
            r = read_reply(body);
            if (packed)
                f = read_packed(f);
            std::string why;
            EXPECT_FALSE(livestatus_check(f, why));
            EXPECT_EQ(why, fault.why);
            EXPECT_FALSE(livestatus_fill(f, why));
            EXPECT_EQ(why, fault.why);
        }
    }
}

// A packed body that does not unpack to its length (it never happens to
// one the wire packed) fails the read with its reason.
TEST(LivestatusRead, APackedBodyCutShortFailsTheRead)
{
    status_enter();
    livestatus_fetched f = read_packed(read_replies(ROWS, ",\n"));
    f.services.packed_length /= 2;
    std::string why;
    EXPECT_FALSE(livestatus_check(f, why));
    EXPECT_EQ(why, "cannot unpack the reply");
    EXPECT_FALSE(livestatus_fill(f, why));
    EXPECT_EQ(why, "cannot unpack the reply");
}

}  // namespace
