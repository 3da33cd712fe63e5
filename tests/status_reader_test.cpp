// SPDX-License-Identifier: GPL-2.0-or-later
// The status file reader in-process: the info stanza and creation time, the
// stanza pass and key searches, long lines, and every fatal message.
#include "status_support.h"

#include <cstring>
#include <random>
#include <sys/wait.h>

namespace {

const std::string HEAD = "info {\n\tcreated=1000\n\t}\n";  // lines 1 to 3

struct fatal_case {
    const char *name;
    std::string content;
    std::string out;  // standard output, exactly
};

std::string host_missing(const std::string &key)
{
    return "fatal error: status.dat: could not find \"" + key + "\" for host stanza preceeding line ";
}
std::string service_missing(const std::string &key)
{
    return "fatal error: status.dat: could not find \"" + key +
           "\" for service stanza preceeding line ";
}

// A host stanza (lines 4 to 9 after HEAD) without the key drop.
std::string host_without(const std::string &drop)
{
    std::string s = "hoststatus {\n";
    for (const char *k : {"host_name=a", "current_state=0", "plugin_output=x", "last_state_change=5"})
        if (std::string(k).rfind(drop + "=", 0) != 0)
            s += std::string("\t") + k + "\n";
    return s + "\t}\n";
}

std::string service_without(const std::string &drop)
{
    std::string s = "servicestatus {\n";
    for (const char *k : {"host_name=h", "service_description=s", "current_state=0",
                          "last_state_change=5", "plugin_output=ok"})
        if (std::string(k).rfind(drop + "=", 0) != 0)
            s += std::string("\t") + k + "\n";
    return s + "\t}\n";
}

TEST(StatusReader, FatalMessagesEndWithStatusOneAndExactText)
{
    const std::string info = "fatal error: status.dat: could not find \"info\" stanza\n";
    const std::string created = "fatal error: status.dat: could not find \"created\" entry\n";
    const std::vector<fatal_case> cases = {
        {"empty file", "", info},
        {"blank after the brace", "info { \n\tcreated=5\n", info},
        {"tab before info", "\tinfo {\n\tcreated=5\n", info},
        {"info without newline at the end", "# x\ninfo {", info},
        {"info in a longer line", "info {}\n\tcreated=5\n", info},
        {"no created", "info {\n\tversion=4\n\t}\nprogramstatus {\n\t}\n", created},
        {"created only before info", "\tcreated=5\ninfo {\n\t}\n", created},
        {"host_name", HEAD + host_without("host_name"), host_missing("host_name") + "8\n"},
        {"current_state", HEAD + host_without("current_state"), host_missing("current_state") + "8\n"},
        {"plugin_output", HEAD + host_without("plugin_output"), host_missing("plugin_output") + "8\n"},
        {"last_state_change", HEAD + host_without("last_state_change"),
         host_missing("last_state_change") + "9\n"},
        {"service host_name", HEAD + service_without("host_name"), service_missing("host_name") + "9\n"},
        {"service_description", HEAD + service_without("service_description"),
         service_missing("service_description") + "9\n"},
        {"service current_state", HEAD + service_without("current_state"),
         service_missing("current_state") + "9\n"},
        {"service last_state_change", HEAD + service_without("last_state_change"),
         service_missing("last_state_change") + "9\n"},
        {"service plugin_output", HEAD + service_without("plugin_output"),
         service_missing("plugin_output") + "10\n"},
        // The plugin_output search starts on the last_state_change line and
        // meets the brace (line 9) next.
        {"output before state",
         HEAD + "hoststatus {\n\thost_name=a\n\tplugin_output=x\n\tcurrent_state=0\n"
                "\tlast_state_change=5\n\t}\n",
         host_missing("plugin_output") + "9\n"},
        // A blank line later in a search (line 7) ends it.
        {"blank later in a search",
         HEAD + "hoststatus {\n\thost_name=a\n\tmodified_attributes=0\n\n\tcurrent_state=0\n",
         host_missing("current_state") + "7\n"},
        {"key fail in a search",
         HEAD + "hoststatus {\n\thost_name=a\n\tx=1\n\tfail=0\n\tcurrent_state=0\n",
         host_missing("current_state") + "7\n"},
        {"file ends after host_name", HEAD + "hoststatus {\n\thost_name=a\n",
         host_missing("current_state") + "6\n"},
        {"file ends after host_name without newline", HEAD + "hoststatus {\n\thost_name=a",
         host_missing("current_state") + "6\n"},
    };
    for (const fatal_case &c : cases) {
        SCOPED_TRACE(c.name);
        status_enter();
        status_write(c.content);
        STATUS_EXPECT_FATAL(read_v23_status(), c.out);
    }
}

TEST(StatusReader, MissingFileIsReportedOnStandardError)
{
    status_enter();
    unlink("status.dat");
    EXPECT_EXIT(read_v23_status(), testing::ExitedWithCode(1),
                "^fatal error: fopen status.dat failed: No such file or directory\n$");
}

TEST(StatusReader, InfoAndCreatedOnlyGiveTheTimeAndEmptyTables)
{
    status_enter();
    // A previous read leaves sizes and counts that the reader must reset.
    status_write(status_file(5000, host_stanza("a", 1, "down", 10) +
                                       service_stanza("a", "x", 2, "bad", 10)));
    read_status();
    ASSERT_EQ(host_list_size, 1);
    status_write("info {\n\tcreated=1700000000\n\t}\n");
    read_status();
    EXPECT_EQ(last_update_int, 1700000000);
    EXPECT_STREQ(last_update, "Tue Nov 14 22:13:20");
    EXPECT_EQ(host_list_size, 0);
    EXPECT_EQ(service_list_size, 0);
    EXPECT_EQ(num_up + num_down + num_okay + num_warn + num_crit, 0);
    EXPECT_EQ(hosts_by_age, nullptr);
    EXPECT_EQ(services_by_age, nullptr);
    EXPECT_EQ(line, 3);
}

TEST(StatusReader, CreatedIsTakenWhereverItFirstStands)
{
    struct created_case {
        const char *name;
        std::string content;
        int created;
        int hosts;
    };
    const std::string h = host_stanza("a", 0, "ok", 10);
    const std::vector<created_case> cases = {
        {"later stanza", "info {\n\t}\n" + h + "programstatus {\n\tcreated=42\n\t}\n" + h, 42, 1},
        {"blank separator", "info {\ncreated 77\n}\n", 77, 0},
        {"signed and spaced", "info {\n\tcreated=  -12x\n", -12, 0},
        {"no digits", "info {\n\tcreated=abc\n", 0, 0},
        {"last line without newline", "info {\n\tcreated=99", 99, 0},
        {"not a key/value line skipped", "info {\n\n\tcreated\n}\n\tcreated=5\n", 5, 0},
        {"hosts before info are not read", h + "info {\n\tcreated=8\n\t}\n", 8, 0},
    };
    for (const created_case &c : cases) {
        SCOPED_TRACE(c.name);
        status_enter();
        status_write(c.content);
        read_status();
        EXPECT_EQ(last_update_int, c.created);
        EXPECT_EQ(host_list_size, c.hosts);
    }
}

TEST(StatusReader, StanzaHeadersAreKeysComparedWhole)
{
    status_enter();
    const std::string body = "\thost_name=H\n\tcurrent_state=1\n\tplugin_output=o\n"
                             "\tlast_state_change=50\n\t}\n";
    const std::string sbody = "\thost_name=H\n\tservice_description=S\n\tcurrent_state=2\n"
                              "\tlast_state_change=50\n\tplugin_output=o\n\t}\n";
    status_write(HEAD +                      //
                 "hosts {\n" + body +        // opens nothing
                 "Host {\n" + body +         // opens nothing
                 "host\n" + body +           // not a key/value line
                 "host=\n" + body +          // opens a host stanza
                 "host web\n" + body +       // so does any value
                 "servicestatus {\n" + sbody + "service=x\n" + sbody +
                 "services {\n" + sbody +    // opens nothing
                 "\t \thoststatus {\n" + body);  // leading blanks and tabs are skipped
    read_status();
    EXPECT_EQ(host_list_size, 3);
    EXPECT_EQ(service_list_size, 2);
    EXPECT_EQ(num_down, 3);
    EXPECT_EQ(num_crit, 2);
    EXPECT_STREQ(service_list[1].service_description, "H S");
}

TEST(StatusReader, ValuesKeepBlanksTabsAndEquals)
{
    status_enter();
    status_write(HEAD +
                 "hoststatus {\n"
                 "\n"  // a blank line right after the header is passed over
                 "\thost_name=web 01 \n"
                 "\tcurrent_state 0\n"
                 "\tplugin_output=a = b\t=c \n"
                 "\tlast_state_change=50\n"
                 "\t}\n"
                 "servicestatus {\n"
                 "\thost_name=\n"
                 "\tservice_description=\n"
                 "\tcurrent_state=\n"
                 "\tlast_state_change=\n"
                 // the last line of the file, without a newline
                 "\tplugin_output=OK");
    read_status();
    ASSERT_EQ(host_list_size, 1);
    EXPECT_STREQ(host_list[0].host_name, "web 01 ");
    EXPECT_STREQ(host_list[0].current_state, "UP");
    EXPECT_STREQ(host_list[0].plugin_output, "a = b\t=c ");
    ASSERT_EQ(service_list_size, 1);
    EXPECT_STREQ(service_list[0].host_name, "");
    EXPECT_STREQ(service_list[0].service_description, " ");
    EXPECT_EQ(service_list[0].current_state, nullptr);
    EXPECT_EQ(service_list[0].last_state_change, 0);
    EXPECT_STREQ(service_list[0].plugin_output, "OK");
    EXPECT_EQ(line, 16);
}

// A physical line of any length is one line: its first 1023 characters are
// split and judged, the rest is passed over, and it counts once.
TEST(StatusReader, LongLinesAreOneLineCutAt1023Characters)
{
    status_enter();
    const std::string key = "\tplugin_output=";
    // What follows the first 1023 characters would open a false stanza, or
    // end a key search, if it were read as a line of its own.
    std::string head(1023 - key.size(), 'x');
    const std::string host_long = key + head + "host web";
    const std::string service_long = key + head + "servicestatus {";
    const std::string plain_long = "\tlong_plugin_output=" + std::string(5000, 'z') + "\n";
    status_write(HEAD +
                 "hoststatus {\n\thost_name=a\n\tcurrent_state=0\n" + host_long + "\n" +
                 plain_long + "\tlast_state_change=50\n\t}\n" +
                 "servicestatus {\n\thost_name=a\n\tservice_description=s\n\tcurrent_state=0\n"
                 "\tlast_state_change=50\n" + service_long + "\n" +
                 "\tlong_plugin_output=" + std::string(4000, 'w') + "\n\t}\n");
    read_status();
    ASSERT_EQ(host_list_size, 1);
    ASSERT_EQ(service_list_size, 1);
    EXPECT_EQ(std::string(host_list[0].plugin_output), head);
    EXPECT_EQ(std::string(service_list[0].plugin_output), head);
    EXPECT_EQ(line, 3 + 7 + 8);

    // A line of exactly 1023 characters keeps them all; one more is cut.
    for (size_t extra : {0, 1, 2}) {
        std::string v(1023 - key.size() - 1 + extra, 'v');
        status_write(HEAD + "hoststatus {\n\thost_name=a\n\tcurrent_state=0\n" + key + v +
                     "\n\tlast_state_change=50\n\t}\n");
        read_status();
        ASSERT_EQ(host_list_size, 1);
        EXPECT_EQ(strlen(host_list[0].plugin_output), std::min(v.size(), head.size()));
    }
    // A long last line without a newline: the key search ends at the end of
    // the file with it.
    status_write(HEAD + "hoststatus {\n\thost_name=a\n\tcurrent_state=0\n\tplugin_output=" +
                 std::string(9000, 'p'));
    STATUS_EXPECT_FATAL(read_v23_status(), host_missing("last_state_change") + "8\n");
}

TEST(StatusReader, CapacityHoldsExactlyMaxItemsOfEachKind)
{
    status_enter();
    const std::string h = "host=\nhost_name=h\ncurrent_state=0\nplugin_output=o\nlast_state_change=1\n";
    const std::string s = "service=\nhost_name=h\nservice_description=s\ncurrent_state=0\n"
                          "last_state_change=1\nplugin_output=o\n";
    std::string hosts, services;
    hosts.reserve(h.size() * MAX_ITEMS);
    services.reserve(s.size() * MAX_ITEMS);
    for (int i = 0; i < MAX_ITEMS; i++) {
        hosts += h;
        services += s;
    }
    status_write(HEAD + hosts + services);
    read_status();
    EXPECT_EQ(host_list_size, MAX_ITEMS);
    EXPECT_EQ(service_list_size, MAX_ITEMS);
    EXPECT_EQ(num_up, MAX_ITEMS);
    EXPECT_EQ(num_okay, MAX_ITEMS);

    // One more stanza ends the program before any of its keys is read.
    status_write(HEAD + hosts + "hoststatus {\n");
    STATUS_EXPECT_FATAL(read_v23_status(),
                        "fatal error: too many hosts!\nincrease MAX_ITEMS in quelvan\n");
    status_write(HEAD + services + "servicestatus {\n");
    STATUS_EXPECT_FATAL(read_v23_status(),
                        "fatal error: too many services!\nincrease MAX_ITEMS in quelvan\n");
}

}  // namespace

namespace {

// Whatever a file holds, the reader either reads it or ends with one of its
// messages and status 1: never a crash.
TEST(StatusReader, MangledFilesEndInAReadOrAMessage)
{
    status_enter();
    const std::string base =
        status_file(1000, host_stanza("a", 0, "ok", 5) + host_stanza("b", 1, std::string(1500, 'b'), 0) +
                          service_stanza("a", "s", 2, "x = y", 9) +
                                      service_stanza("b", "t", 3, std::string(2500, 't'), 0));
    std::mt19937 gen(5);
    const char noise[] = {'\0', '\n', ' ', '=', '\t', '{', '}', 'h', 's', '0', '\xff', '\xc3'};
    for (int k = 0; k < 300; k++) {
        std::string s = base;
        int edits = 1 + static_cast<int>(gen() % 6);
        for (int e = 0; e < edits && !s.empty(); e++) {
            size_t at = gen() % s.size();
            switch (gen() % 4) {
            case 0: s.erase(at, gen() % 40); break;
            case 1: s.insert(at, 1 + gen() % 8, noise[gen() % sizeof noise]); break;
            case 2: s.resize(at); break;
            default: s.insert(at, s.substr(gen() % s.size(), gen() % 200)); break;
            }
        }
        status_write(s);
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            if (!freopen("out.txt", "w", stdout))
                _exit(99);
            read_v23_status();
            _exit(0);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFEXITED(st)) << "signal " << WTERMSIG(st) << " on edit " << k;
        const std::string out = read_file("out.txt");
        if (WEXITSTATUS(st) == 1)
            EXPECT_EQ(out.rfind("fatal error: ", 0), 0u) << out;
        else
            EXPECT_EQ(WEXITSTATUS(st), 0) << out;
    }
}

}  // namespace
