// SPDX-License-Identifier: GPL-2.0-or-later
// Stanzas of a status file, and the comments and downtimes matched to the
// object they belong to.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "detail/detail.h"
#include "harness.h"

namespace {

struct stanza_case {
    const char *name;
    std::string text;
    size_t used;  // npos: the whole text
    const char *type;
    std::vector<detail_field> fields;
};

const size_t whole = std::string::npos;

const stanza_case stanza_cases[] = {
    {"as_the_daemon_writes_it",
     "servicecomment {\n\thost_name=web-01\n\tcomment_data=load=5 > 4\n\t}\n\nhostcomment {\n",
     63, "servicecomment",
     {{"host_name", "web-01"}, {"comment_data", "load=5 > 4"}}},
    {"leading_blanks_no_final_newline",
     "  hostcomment {\n  host_name=db-01\n \t author=admin\n  }", whole, "hostcomment",
     {{"host_name", "db-01"}, {"author", "admin"}}},
    {"cut_off_at_the_end", "hostdowntime {\n\thost_name=db-01\n\tcomment=Maint", whole, "hostdowntime",
     {{"host_name", "db-01"}, {"comment", "Maint"}}},
    {"header_alone", "info {", whole, "info", {}},
    {"next_header_ends_an_unclosed_stanza",
     "hostcomment {\n\thost_name=a\nhostcomment {\n\thost_name=b\n\t}\n", 27, "hostcomment",
     {{"host_name", "a"}}},
    {"empty_values_and_lines_without_equals",
     "info {\n\tversion=\n\n\tnoise\n\t=bare\n\t}\n", whole, "info",
     {{"version", ""}, {"", "bare"}}},
    {"carriage_returns",
     "info {\r\n\toutput=a\rb\r\n\t}\r\n", whole, "info", {{"output", "a\rb\r"}}},
    {"closing_brace_inside_a_value", "info {\n\tplugin_output=}\n\t} \n", whole, "info",
     {{"plugin_output", "}"}}},
    {"no_header", "\thost_name=a\n\t}\n", 0, "", {}},
    {"header_not_first", "\nhostcomment {\n\t}\n", 0, "", {}},
    {"brace_without_type", "{\n\t}\n", 0, "", {}},
    {"type_and_more", "host status {\n\t}\n", 0, "", {}},
    {"key_value_with_brace", "plugin_output=up {\n", 0, "", {}},
    {"empty", "", 0, "", {}},
};

// ctest names a case by its name, not by its bytes.
void PrintTo(const stanza_case &c, std::ostream *os) { *os << c.name; }

class DetailStanza : public testing::TestWithParam<stanza_case> {};

TEST_P(DetailStanza, TypeFieldsAndBytesUsed)
{
    const stanza_case &c = GetParam();
    detail_stanza s{"stale", {{"stale", "stale"}}};
    size_t used = detail_read_stanza(c.text.data(), c.text.size(), s);
    EXPECT_EQ(used, c.used == whole ? c.text.size() : c.used);
    EXPECT_EQ(s.type, c.type);
    ASSERT_EQ(s.fields.size(), c.fields.size());
    for (size_t i = 0; i < s.fields.size(); i++) {
        EXPECT_EQ(s.fields[i].key, c.fields[i].key) << "line " << i;
        EXPECT_EQ(s.fields[i].value, c.fields[i].value) << "line " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, DetailStanza, testing::ValuesIn(stanza_cases),
                         [](const testing::TestParamInfo<stanza_case> &i) { return std::string(i.param.name); });

TEST(DetailStanzaValue, FirstOfAKeyWrittenTwiceLongLinesWhole)
{
    std::string output(70000, 'x');
    output += "=y\\n";
    std::string text = "servicestatus {\n\tstate=1\n\tstate=2\n\tlong_plugin_output=" + output + "\n\t}\n";
    detail_stanza s;
    ASSERT_EQ(detail_read_stanza(text.data(), text.size(), s), text.size());
    ASSERT_NE(detail_value(s, "state"), nullptr);
    EXPECT_EQ(*detail_value(s, "state"), "1");
    ASSERT_NE(detail_value(s, "long_plugin_output"), nullptr);
    EXPECT_EQ(*detail_value(s, "long_plugin_output"), output);
    EXPECT_EQ(detail_value(s, "plugin_output"), nullptr);
}

// A comment stanza as the daemon writes it.
std::string comment_stanza(const char *type, const char *host, const char *service, int entry_type,
                           const char *author, const char *text)
{
    std::string s = std::string(type) + " {\n\thost_name=" + host + "\n";
    if (service)
        s += std::string("\tservice_description=") + service + "\n";
    return s + "\tentry_type=" + std::to_string(entry_type) +
           "\n\tcomment_id=1\n\tsource=1\n\tpersistent=1\n\tentry_time=1796851786\n\texpires=0\n"
           "\texpire_time=0\n\tauthor=" + author + "\n\tcomment_data=" + text + "\n\t}\n\n";
}

std::string downtime_stanza(const char *type, const char *host, const char *service, long long start,
                            long long end, int in_effect, const char *text)
{
    std::string s = std::string(type) + " {\n\thost_name=" + host + "\n";
    if (service)
        s += std::string("\tservice_description=") + service + "\n";
    return s + "\tdowntime_id=1\n\tcomment_id=2\n\tentry_time=1796851700\n\tstart_time=" +
           std::to_string(start) + "\n\tflex_downtime_start=0\n\tend_time=" + std::to_string(end) +
           "\n\ttriggered_by=0\n\tfixed=1\n\tduration=" + std::to_string(end - start) +
           "\n\tis_in_effect=" + std::to_string(in_effect) +
           "\n\tstart_notification_sent=0\n\tauthor=ops\n\tcomment=" + text + "\n\t}\n\n";
}

// Hosts db-01 and web-01; web-01 also has a service named "db-01".
class DetailNotes : public testing::Test {
protected:
    std::string file =
        "info {\n\tcreated=1796851800\n\t}\n\n"
        "hoststatus {\n\thost_name=db-01\n\tplugin_output=hostcomment {\n\t}\n\n" +
        comment_stanza("hostcomment", "db-01", nullptr, 1, "alice", "Disk replacement planned") +
        comment_stanza("servicecomment", "db-01", "Load", 1, "bob", "service, not host") +
        comment_stanza("hostcomment", "db-01", nullptr, 4, "carol", "Power supply failed; on it") +
        comment_stanza("hostcomment", "db-011", nullptr, 1, "x", "other host") +
        comment_stanza("servicecomment", "web-01", "db-01", 1, "dave", "a service named like a host") +
        comment_stanza("hostcomment", "db-01", nullptr, 1, "erin", "a=b, with equals") +
        downtime_stanza("hostdowntime", "db-01", nullptr, 1796851786, 1796858986, 1, "Maintenance window") +
        downtime_stanza("servicedowntime", "db-01", "Load", 1796860000, 1796863600, 0, "Later") +
        downtime_stanza("servicedowntime", "web-01", "db-01", 1796860000, 1796863600, 0, "Service one");

    std::vector<detail_comment> comments;
    std::vector<detail_downtime> downtimes;

    void notes(const char *host, const char *service)
    {
        detail_notes(file.data(), file.size(), host, service, comments, downtimes);
    }
};

TEST_F(DetailNotes, HostHasItsOwnCommentsInFileOrder)
{
    notes("db-01", nullptr);
    ASSERT_EQ(comments.size(), 3u);
    EXPECT_EQ(comments[0].author, "alice");
    EXPECT_EQ(comments[0].entry_type, 1);
    EXPECT_EQ(comments[1].author, "carol");
    EXPECT_EQ(comments[1].entry_type, 4);  // the acknowledgement among user comments
    EXPECT_EQ(comments[1].text, "Power supply failed; on it");
    EXPECT_EQ(comments[1].entry_time, 1796851786);
    EXPECT_TRUE(comments[1].persistent);
    EXPECT_FALSE(comments[1].expires);
    EXPECT_EQ(comments[2].text, "a=b, with equals");

    ASSERT_EQ(downtimes.size(), 1u);
    const detail_downtime &d = downtimes[0];
    EXPECT_EQ(d.author, "ops");
    EXPECT_EQ(d.text, "Maintenance window");
    EXPECT_EQ(d.entry_time, 1796851700);
    EXPECT_EQ(d.start_time, 1796851786);
    EXPECT_EQ(d.end_time, 1796858986);
    EXPECT_EQ(d.duration, 7200);
    EXPECT_TRUE(d.fixed);
    EXPECT_TRUE(d.in_effect);
}

TEST_F(DetailNotes, ServiceHasOnlyItsOwn)
{
    notes("db-01", "Load");
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].author, "bob");
    ASSERT_EQ(downtimes.size(), 1u);
    EXPECT_EQ(downtimes[0].text, "Later");
    EXPECT_FALSE(downtimes[0].in_effect);
    EXPECT_EQ(downtimes[0].end_time, 1796863600);
}

TEST_F(DetailNotes, ServiceNamedLikeAHostIsNoHost)
{
    notes("web-01", nullptr);
    EXPECT_TRUE(comments.empty());
    EXPECT_TRUE(downtimes.empty());

    notes("web-01", "db-01");
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].author, "dave");
    ASSERT_EQ(downtimes.size(), 1u);
    EXPECT_EQ(downtimes[0].text, "Service one");
}

TEST_F(DetailNotes, NoHostNoNotes)
{
    notes(nullptr, nullptr);
    notes("db-0", nullptr);
    notes("db-01", "load");
    EXPECT_TRUE(comments.empty());
    EXPECT_TRUE(downtimes.empty());
}

TEST_F(DetailNotes, NumbersLenientAndACutLastStanza)
{
    file = "hostcomment {\n\thost_name=h\n\tentry_type=99\n\tentry_time= 12\n\tpersistent=yes\n"
           "\texpire_time=99999999999999999999\n\t}\n"
           "hostdowntime {\n\thost_name=h\n\tstart_time=+5\n\tend_time=-1x\n\tauthor=cut";
    notes("h", nullptr);
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].entry_type, 0);
    EXPECT_EQ(comments[0].entry_time, 12);
    EXPECT_FALSE(comments[0].persistent);
    EXPECT_EQ(comments[0].expire_time, 0);
    EXPECT_EQ(comments[0].author, "");
    ASSERT_EQ(downtimes.size(), 1u);
    EXPECT_EQ(downtimes[0].start_time, 5);
    EXPECT_EQ(downtimes[0].end_time, -1);
    EXPECT_EQ(downtimes[0].author, "cut");
    EXPECT_EQ(downtimes[0].text, "");
}

// The notes of the sample file that a Nagios 4 daemon wrote.
TEST(DetailNotesSample, RealDaemonStanzas)
{
    const std::string file = read_file(real_status_path());
    std::vector<detail_comment> comments;
    std::vector<detail_downtime> downtimes;

    detail_notes(file.data(), file.size(), "db-01", nullptr, comments, downtimes);
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].entry_type, 4);
    EXPECT_EQ(comments[0].author, "admin");
    EXPECT_EQ(comments[0].text, "Power supply failed, technician on site");
    EXPECT_EQ(comments[0].entry_time, 1796851824);
    EXPECT_TRUE(downtimes.empty());

    comments.clear();
    detail_notes(file.data(), file.size(), "mail-03", nullptr, comments, downtimes);
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].entry_type, 2);
    ASSERT_EQ(downtimes.size(), 1u);
    EXPECT_EQ(downtimes[0].text, "Maintenance window");
    EXPECT_EQ(downtimes[0].start_time, 1796851786);
    EXPECT_EQ(downtimes[0].end_time, 1796858986);
    EXPECT_EQ(downtimes[0].duration, 7200);
    EXPECT_TRUE(downtimes[0].fixed);
    EXPECT_TRUE(downtimes[0].in_effect);

    comments.clear();
    downtimes.clear();
    detail_notes(file.data(), file.size(), "db-01", "Load", comments, downtimes);
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments[0].text, "Kommentar mit Umlauten: Größe = 3 °C");
    EXPECT_TRUE(downtimes.empty());

    comments.clear();
    detail_notes(file.data(), file.size(), "web-01", "SSH", comments, downtimes);
    ASSERT_EQ(downtimes.size(), 1u);
    EXPECT_EQ(downtimes[0].text, "OpenSSH upgrade");
    EXPECT_EQ(downtimes[0].end_time, 1796855386);

    comments.clear();
    downtimes.clear();
    detail_notes(file.data(), file.size(), "web-01", nullptr, comments, downtimes);
    EXPECT_TRUE(comments.empty());
    EXPECT_TRUE(downtimes.empty());
}

}  // namespace
