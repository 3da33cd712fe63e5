// SPDX-License-Identifier: GPL-2.0-or-later
// The text hooks and the regular-expression hook, called in-process through
// the real interpreter with a script written for each test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "harness.h"
#include "perl/perl_hook.h"
#include "quelvan.h"

namespace {

// Each test starts the interpreter in its own directory with its own script.
class PerlHook : public testing::Test {
protected:
    std::string dir;
    std::string home;
    bool started = false;

    void SetUp() override
    {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        home = cwd;
        dir = test_dir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override
    {
        if (started)
            perl_hook_free();
        ASSERT_EQ(chdir(home.c_str()), 0);
    }
    void start(const std::string &script)
    {
        write_file(hook_path(dir), script);
        perl_hook_init();
        started = true;
    }
    // Runs a text through a hook in a buffer of the console's size.
    static std::string hook(int kind, const std::string &text)
    {
        char buf[TEXT_SIZE];
        text_copy(buf, text.c_str());
        perl_hook(kind, buf);
        return buf;
    }
};

const char *const HOOKS_MARKED = R"PERL(
sub host_plugin_hook { return "H:$_[0]" }
sub service_plugin_hook { return "S:$_[0]" }
1;
)PERL";

TEST_F(PerlHook, PassThroughLeavesTextsAsRead)
{
    start(PASS_THROUGH_HOOK);
    const std::string texts[] = {
        "PING OK - Packet loss = 0%, RTA = 0.80 ms",
        "web01 HTTP",
        "",
        "caf\xc3\xa9 \xe2\x9c\x93 unicode",
        std::string(TEXT_SIZE - 1, 'x'),
    };
    for (const auto &t : texts) {
        EXPECT_EQ(hook(HOOK_HOST, t), t);
        EXPECT_EQ(hook(HOOK_SERVICE, t), t);
    }
}

TEST_F(PerlHook, KindChoosesTheSub)
{
    start(HOOKS_MARKED);
    EXPECT_EQ(hook(HOOK_HOST, "abcdef"), "H:abcd");
    EXPECT_EQ(hook(HOOK_SERVICE, "abcdef"), "S:abcd");
}

TEST_F(PerlHook, ResultNeverLongerThanText)
{
    start(R"PERL(
sub host_plugin_hook { return "OK - fine" }
sub service_plugin_hook { return $_[0] . "++" }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_HOST, "OK"), "OK");
    EXPECT_EQ(hook(HOOK_HOST, ""), "");
    EXPECT_EQ(hook(HOOK_HOST, "0123456789ab"), "OK - fine");
    EXPECT_EQ(hook(HOOK_SERVICE, std::string(TEXT_SIZE - 1, 'y')), std::string(TEXT_SIZE - 1, 'y'));

    // The bytes behind the text are not touched.
    char buf[16];
    memset(buf, '#', sizeof buf);
    memcpy(buf, "OK", 3);
    perl_hook(HOOK_HOST, buf);
    EXPECT_EQ(std::string(buf, 4), std::string("OK\0#", 4));
}

// Results of every kind, as the text "PING CRITICAL - down" becomes them.
TEST_F(PerlHook, ResultTakenByItsStringValue)
{
    start(R"PERL(
package Shown;
use overload '""' => sub { "shown" };
package main;
my %results = (
    empty   => sub { "" },
    undef   => sub { undef },
    nothing => sub { return },
    list    => sub { return () },
    number  => sub { 42 },
    float   => sub { 0.5 },
    object  => sub { bless {}, 'Shown' },
    nul     => sub { "ab\0cd" },
    wide    => sub { "\x{263A}ok" },
    upgraded=> sub { my $s = "plain"; utf8::upgrade($s); $s },
    tied    => sub { tie my $t, 'Fetch'; $t },
);
package Fetch;
sub TIESCALAR { bless {}, shift }
sub FETCH { "fetched" }
package main;
our $which;
sub host_plugin_hook { return $which ? $results{$which}->() : $_[0] }
sub service_plugin_hook { $which = $_[0]; return "" }
1;
)PERL");
    struct {
        const char *which;
        const char *after;
    } cases[] = {
        {"empty", ""},        {"undef", ""},    {"nothing", ""},
        {"list", ""},         {"number", "42"}, {"float", "0.5"},
        {"object", "shown"},  {"nul", "ab"},    {"wide", "\xe2\x98\xbaok"},
        {"upgraded", "plain"}, {"tied", "fetched"},
    };
    for (const auto &c : cases) {
        hook(HOOK_SERVICE, c.which);
        char buf[TEXT_SIZE];
        memset(buf, '#', sizeof buf);
        const char text[] = "PING CRITICAL - down";
        memcpy(buf, text, sizeof text);
        perl_hook(HOOK_HOST, buf);
        EXPECT_STREQ(buf, c.after) << c.which;
        // Zero bytes from the end of the result up to the old length.
        for (size_t i = strlen(c.after); i <= strlen(text); i++)
            EXPECT_EQ(buf[i], '\0') << c.which << " at " << i;
        EXPECT_EQ(buf[strlen(text) + 1], '#') << c.which;
    }
}

TEST_F(PerlHook, ScriptStateLivesForTheRun)
{
    start(R"PERL(
my $n = 0;
sub host_plugin_hook { $n++; return "call $n" }
sub service_plugin_hook { $_[0] }
1;
)PERL");
    // The start-up test call was the first.
    EXPECT_EQ(hook(HOOK_HOST, "............"), "call 2");
    EXPECT_EQ(hook(HOOK_HOST, "............"), "call 3");
}

TEST_F(PerlHook, RedefinedSubIsCalled)
{
    start(R"PERL(
sub host_plugin_hook { $_[0] }
sub service_plugin_hook {
    eval 'no warnings "redefine"; sub service_plugin_hook { "second" }';
    return "first";
}
1;
)PERL");
    EXPECT_EQ(hook(HOOK_SERVICE, "xxxxxxxx"), "first");
    EXPECT_EQ(hook(HOOK_SERVICE, "xxxxxxxx"), "second");
}

TEST_F(PerlHook, SubDefinedOnlyAtRunTimeIsFound)
{
    start(R"PERL(
sub host_plugin_hook {
    eval 'sub service_plugin_hook { "late" }' unless defined &service_plugin_hook;
    $_[0];
}
1;
)PERL");
    EXPECT_EQ(hook(HOOK_SERVICE, "xxxxxxxx"), "late");
}

TEST_F(PerlHook, GlobDeletedFromPackageEndsLikeAMissingSub)
{
    start(R"PERL(
sub host_plugin_hook { delete $main::{service_plugin_hook} if $_[0] eq "drop"; $_[0] }
sub service_plugin_hook { "there" }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_SERVICE, "xxxxxxxx"), "there");
    hook(HOOK_HOST, "drop");
    expect_fatal([] { hook(HOOK_SERVICE, "xxxxxxxx"); },
                 "fatal error: perl eval error: Undefined subroutine "
                 "&main::service_plugin_hook called.\n\r\n");
}

// What the host hook answers to a text starting with "report".
std::string report()
{
    char buf[TEXT_SIZE];
    text_copy(buf, ("report" + std::string(300, '.')).c_str());
    perl_hook(HOOK_HOST, buf);
    return buf;
}

TEST_F(PerlHook, ArgumentsTheScriptKeepsStayAsTheyWere)
{
    start(R"PERL(
my (@kept, @lists, @regex);
sub host_plugin_hook {
    return join(",", map({ $$_ } @kept), map({ $_->[0] } @lists)) . ";" .
           join(",", map { join "|", @$_ } @regex) if $_[0] =~ /^report/;
    push @kept, \$_[0];
    push @lists, \@_;
    return $_[0];
}
sub service_plugin_hook { $_[0] }
sub regex_hook {
    push @regex, \@_ unless $_[1] eq "nokeep";
    my $fourth = $_[3];
    $_[3] = 99;
    return $fourth;
}
1;
)PERL");
    hook(HOOK_HOST, "one");
    hook(HOOK_HOST, "two");
    EXPECT_EQ(perl_regex_hook("t1", "p1", 0), 0);
    EXPECT_EQ(perl_regex_hook("t2", "nokeep", 1), 0);
    EXPECT_EQ(perl_regex_hook("t3", "p3", 1), 0);
    EXPECT_EQ(perl_regex_hook("t4", "p4", 0), 0);
    EXPECT_EQ(report(), "testing perl hook eval,one,two,testing perl hook eval,one,two;"
                        "t1|p1|0|99,t3|p3|1|99,t4|p4|0|99");
}

// Whatever a script does to its arguments, the next call gets new plain ones.
TEST_F(PerlHook, EveryCallGetsPlainArguments)
{
    start(R"PERL(
use B;
sub kind {
    my $f = B::svref_2object(\$_[0])->FLAGS;
    return ($f & B::SVf_POK ? "P" : "") . ($f & B::SVf_IOK ? "I" : "") .
           ($f & B::SVf_NOK ? "N" : "") . ($f & B::SVf_ROK ? "R" : "") .
           ($f & B::SVf_UTF8 ? "U" : "") . ($f & B::SVf_READONLY ? "!" : "") .
           (defined pos($_[0]) ? "@" : "");
}
our $report = "";
sub host_plugin_hook {
    return $report if $_[0] =~ /^report/;
    my $seen = kind($_[0]);
    utf8::decode($_[0]);
    return $seen;
}
sub service_plugin_hook {
    my $seen = kind($_[0]);
    $_[0] =~ /./g;
    return $seen;
}
sub regex_hook {
    $report = join ",", map { kind($_[$_]) . ":" . $_[$_] } 0 .. $#_;
    if ($_[2] == 1) {
        Internals::SvREADONLY($_[$_], 1) for 0 .. 3;
    } else {
        $_[0] = 7; $_[1] = [1]; $_[2] = "text"; $_[3] = 3.5;
    }
    return 1;
}
1;
)PERL");
    const std::string cafe = "caf\xc3\xa9....";
    EXPECT_EQ(hook(HOOK_HOST, cafe), "P");
    EXPECT_EQ(hook(HOOK_HOST, cafe), "P");
    EXPECT_EQ(hook(HOOK_SERVICE, "abc"), "P");
    EXPECT_EQ(hook(HOOK_SERVICE, "abc"), "P");
    EXPECT_EQ(perl_regex_hook("text1", "pat1", 0), 1);
    EXPECT_EQ(report(), "P:text1,P:pat1,I:0,I:0");
    EXPECT_EQ(perl_regex_hook("text2", "pat2", 1), 1);
    EXPECT_EQ(report(), "P:text2,P:pat2,I:1,I:0");
    EXPECT_EQ(perl_regex_hook("text3", "pat3", 0), 1);
    EXPECT_EQ(report(), "P:text3,P:pat3,I:0,I:0");
}

TEST_F(PerlHook, RegexHookGetsTextPatternModeAndZero)
{
    start(R"PERL(
use B;
our $last = "";
sub host_plugin_hook { return $last || $_[0] }
sub service_plugin_hook { $_[0] }
sub int_only { my $f = B::svref_2object(\$_[0])->FLAGS; ($f & B::SVf_IOK) && !($f & B::SVf_POK) }
sub str_only { my $f = B::svref_2object(\$_[0])->FLAGS; ($f & B::SVf_POK) && !($f & (B::SVf_IOK | B::SVf_UTF8)) }
sub regex_hook {
    $last = sprintf "%d args; %s; %s; mode %s%s; fourth %s%s; %s",
        scalar @_, $_[0], $_[1], $_[2], int_only($_[2]) ? " int" : "",
        $_[3], int_only($_[3]) ? " int" : "",
        (str_only($_[0]) && str_only($_[1])) ? "strings" : "not strings";
    $_[3] = 5;
    return 0;
}
1;
)PERL");
    EXPECT_EQ(perl_regex_hook("web01 HTTP OK", "^web", 1), 0);
    EXPECT_EQ(hook(HOOK_HOST, std::string(100, '.')),
              "4 args; web01 HTTP OK; ^web; mode 1 int; fourth 0 int; strings");
    EXPECT_EQ(perl_regex_hook("db01", "d(b", 0), 0);
    EXPECT_EQ(hook(HOOK_HOST, std::string(100, '.')),
              "4 args; db01; d(b; mode 0 int; fourth 0 int; strings");
}

// The answer is the result's integer value, cut to its low 32 bits.
TEST_F(PerlHook, RegexAnswerIsLow32BitsOfTheResult)
{
    start(R"PERL(
sub host_plugin_hook { $_[0] }
sub service_plugin_hook { $_[0] }
sub regex_hook { return eval $_[1] }
1;
)PERL");
    struct {
        const char *perl;
        int answer;
    } cases[] = {
        {"0", 0},
        {"1", 1},
        {"''", 0},
        {"undef", 0},
        {"'abc'", 0},
        {"'12abc'", 12},
        {"-1", -1},
        {"4.9", 4},
        {"2**32", 0},
        {"4294967296", 0},
        {"4294967297", 1},
        {"2**31", -2147483647 - 1},
        {"2**31 - 1", 2147483647},
        {"-(2**32) - 5", -5},
        {"1 == 1", 1},
        {"1 == 2", 0},
        {"(5, 6, 7)", 7},
    };
    for (const auto &c : cases)
        EXPECT_EQ(perl_regex_hook("text", c.perl, 0), c.answer) << c.perl;
}

// The sample script that ships with the console: texts pass, patterns are
// Perl's own, and a pattern Perl cannot compile shows the item.
TEST_F(PerlHook, SampleScript)
{
    start(read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.pl"));
    EXPECT_EQ(hook(HOOK_HOST, "PING OK - Packet loss = 0%"), "PING OK - Packet loss = 0%");
    EXPECT_EQ(hook(HOOK_SERVICE, "web01 HTTP"), "web01 HTTP");
    struct {
        const char *text;
        const char *pattern;
        int mode;
        int answer;  // non-zero: leave the item out
    } cases[] = {
        {"web01 HTTP OK", "web", 0, 0},
        {"db01 PING OK", "web", 0, 1},
        {"web01 HTTP OK", "web", 1, 1},
        {"db01 PING OK", "web", 1, 0},
        {"web01 HTTP OK", "^(db|web)\\d+ ", 0, 0},
        {"WEB01", "web", 0, 1},
        {"WEB01", "(?i)web", 0, 0},
        {"web01", "(", 0, 0},  // a typo at the prompt shows everything
        {"web01", "(", 1, 0},
        {"web01", "[", 0, 0},
        {"db01", "web", 0, 1},  // after a bad pattern matching goes on
        {"db01", "", 0, 0},     // the empty pattern matches every text
        {"db01", "", 1, 1},
        // Both filters: the calls alternate between the two patterns.
        {"web01 HTTP OK", "web", 0, 0},
        {"web01 HTTP OK", "HTTP", 1, 1},
        {"web02 SSH OK", "web", 0, 0},
        {"web02 SSH OK", "HTTP", 1, 0},
        {"db01 HTTP OK", "web", 0, 1},
        {"db01 HTTP OK", "db", 1, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(perl_regex_hook(c.text, c.pattern, c.mode), c.answer)
            << c.text << " / " << c.pattern << " / " << c.mode;
    // The bad patterns left $@ clear: the next text hook call goes on.
    EXPECT_EQ(hook(HOOK_HOST, "still here"), "still here");
}

TEST_F(PerlHook, CompiledModulesLoad)
{
    start(R"PERL(
use POSIX ();
use Time::HiRes ();
use Socket ();
use List::Util ();
sub host_plugin_hook {
    return join " ", POSIX::floor(2.5), (Time::HiRes::time() > 0 ? "hires" : "none"),
        Socket::inet_ntoa(Socket::inet_aton("127.0.0.1")), List::Util::max(3, 9, 4);
}
sub service_plugin_hook { $_[0] }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_HOST, std::string(40, '.')), "2 hires 127.0.0.1 9");
}

TEST_F(PerlHook, NoInterpreterChangesNothing)
{
    EXPECT_EQ(hook(HOOK_HOST, "as read"), "as read");
    EXPECT_EQ(perl_regex_hook("text", "x", 0), 0);
    start(HOOKS_MARKED);
    perl_hook_free();
    started = false;
    EXPECT_EQ(hook(HOOK_SERVICE, "as read"), "as read");
}

// --- errors during a call: the eval-error message on standard output ---

// Each error ends the program with the exception's text: a script's eval
// that leaves $@ set, a die with a text, with a line number, with an object
// (a text of its own, one that dies when it is read, or none), a missing sub.
TEST_F(PerlHook, ErrorsInAHookEndWithTheirText)
{
    const char *const objects = R"PERL(
package Err;
use overload '""' => sub { "Err: " . $_[0]{msg} }, bool => sub { 1 };
package Broken;
use overload '""' => sub { die "cannot say\n" }, bool => sub { 1 };
package main;
sub host_plugin_hook { $_[0] }
sub service_plugin_hook {
    die bless({ msg => "custom" }, 'Err') if $_[0] eq "object";
    die bless({}, 'Broken') if $_[0] eq "broken";
    die [] if $_[0] eq "array";
    die;
}
sub regex_hook { return bless {}, 'Broken' }
1;
)PERL";
    const char *const only_host = "sub host_plugin_hook { $_[0] }\n1;\n";
    struct fatal_case {
        const char *what;
        const char *script;
        int kind;  // HOOK_HOST, HOOK_SERVICE, or -1 for the regex hook
        const char *text;
        const char *out;
    };
    const fatal_case cases[] = {
        {"eval leaving an error",
         "sub host_plugin_hook { $_[0] }\n"
         "sub service_plugin_hook { eval { die \"disk full\\n\" }; return $_[0] }\n1;\n",
         HOOK_SERVICE, "web01 HTTP", "fatal error: perl eval error: disk full\n\r\n"},
        {"die in the regex hook",
         "sub host_plugin_hook { $_[0] }\nsub service_plugin_hook { $_[0] }\n"
         "sub regex_hook { die \"no patterns today\\n\" }\n1;\n",
         -1, "web01", "fatal error: perl eval error: no patterns today\n\r\n"},
        {"object with a text", objects, HOOK_SERVICE, "object",
         "fatal error: perl eval error: Err: custom\r\n"},
        {"plain die with a line number", objects, HOOK_SERVICE, "plain",
         "fatal error: perl eval error: Died at etc/quelvan.pl line 12.\n\r\n"},
        {"object that dies when read", objects, HOOK_SERVICE, "broken",
         "fatal error: perl eval error: cannot say\n\r\n"},
        // A result that dies when it is read is an exception like any other.
        {"result that dies when read", objects, -1, "text",
         "fatal error: perl eval error: cannot say\n\r\n"},
        {"missing service hook", only_host, HOOK_SERVICE, "web01 HTTP",
         "fatal error: perl eval error: Undefined subroutine &main::service_plugin_hook "
         "called.\n\r\n"},
        {"missing regex hook", only_host, -1, "web01",
         "fatal error: perl eval error: Undefined subroutine &main::regex_hook called.\n\r\n"},
    };
    for (const fatal_case &c : cases) {
        SCOPED_TRACE(c.what);
        start(c.script);
        const int kind = c.kind;
        const std::string text = c.text;
        expect_fatal([&] {
            if (kind < 0)
                perl_regex_hook(text.c_str(), "pattern", 0);
            else
                hook(kind, text);
        }, c.out);
        perl_hook_free();
        started = false;
    }
}

// $@ is the script's: a hook sees it as the previous call left it, and false
// values other than the empty string are not errors.
TEST_F(PerlHook, ErrorVariableAsTheScriptLeftIt)
{
    start(R"PERL(
sub host_plugin_hook {
    my $seen = defined $@ ? "[$@]" : "undef";
    if ($_[0] =~ /^set (.*)/) { $@ = $1 eq "undef" ? undef : $1 }
    return $seen;
}
sub service_plugin_hook { $_[0] }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_HOST, "set 0"), "[]");
    EXPECT_EQ(hook(HOOK_HOST, "set undef"), "[0]");
    EXPECT_EQ(hook(HOOK_HOST, "look."), "undef");
    EXPECT_EQ(hook(HOOK_HOST, "look."), "undef");
    expect_fatal([] { hook(HOOK_HOST, "set oops"); }, "fatal error: perl eval error: oops\r\n");
}

// A false $@ of any kind reaches the next call as it was: an object whose
// truth is false keeps its class, and the empty string comes back after it.
TEST_F(PerlHook, FalseErrorVariableKeepsItsValue)
{
    start(R"PERL(
package Quiet;
use overload bool => sub { 0 }, '""' => sub { "quiet" };
package main;
sub host_plugin_hook {
    my $seen = !defined $@ ? "undef" : ref $@ ? ref($@) . "=$@" : "[$@]";
    $@ = bless {}, 'Quiet' if $_[0] =~ /^obj/;
    $@ = "" if $_[0] =~ /^empty/;
    $@ = 0 if $_[0] =~ /^zero/;
    return $seen;
}
sub service_plugin_hook { $_[0] }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_HOST, "obj........."), "[]");
    EXPECT_EQ(hook(HOOK_HOST, "look........"), "Quiet=quiet");
    EXPECT_EQ(hook(HOOK_HOST, "empty......."), "Quiet=quiet");
    EXPECT_EQ(hook(HOOK_HOST, "zero........"), "[]");
    EXPECT_EQ(hook(HOOK_HOST, "obj........."), "[0]");
    EXPECT_EQ(hook(HOOK_HOST, "empty......."), "Quiet=quiet");
    EXPECT_EQ(hook(HOOK_HOST, "look........"), "[]");
}

TEST_F(PerlHook, MainProgramLeavingErrorIsSeenByTheTestCall)
{
    write_file(hook_path(dir), R"PERL(
eval { die "stale\n" };
sub host_plugin_hook { $_[0] }
1;
)PERL");
    expect_fatal([] { perl_hook_init(); }, "fatal error: perl eval error: stale\n\r\n");
}

TEST_F(PerlHook, HookMayClearTheMainProgramsError)
{
    start(R"PERL(
eval { die "stale\n" };
our $seen;
sub host_plugin_hook { $seen //= $@; $@ = ""; return $seen }
sub service_plugin_hook { $_[0] }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_HOST, "............"), "stale\n");
}

// The eval scope a call runs in is the program's own: the script's subs see
// scalar context and their own evals, and an exception from deep inside
// still reaches the program with its text, $@ restored by local or not.
TEST_F(PerlHook, CallsRunInScalarContextWithTheScriptsOwnEvals)
{
    start(R"PERL(
sub ctx { defined wantarray ? (wantarray ? "list" : "scalar") : "void" }
sub inner { my $r = eval { die "inner\n"; 1 }; return $r ? "no" : "caught:$@" }
sub host_plugin_hook {
    return ctx() . "," . ctx2() if $_[0] eq "context..........";
    if ($_[0] eq "nested") { local $@ = "kept"; deeper(3) }
    return inner() if $_[0] eq "inner";
    if ($_[0] =~ /^inner/) { my $r = inner() . ($@ eq "inner\n" ? "+" : "-"); $@ = ""; return $r }
    return $_[0];
}
sub ctx2 { my @l = (ctx()); return $l[0] }
sub deeper { my $n = shift; $n ? deeper($n - 1) : die "from below\n" }
sub service_plugin_hook { $@ = ""; exit 7 }
1;
)PERL");
    EXPECT_EQ(hook(HOOK_HOST, "context.........."), "scalar,list");
    EXPECT_EQ(hook(HOOK_HOST, "inner................."), "caught:inner\n+");
    expect_fatal([] { hook(HOOK_HOST, "inner"); }, "fatal error: perl eval error: inner\n\r\n");
    expect_fatal([] { hook(HOOK_HOST, "nested"); },
                 "fatal error: perl eval error: from below\n\r\n");
    // A script that exits ends the program with its own status.
    EXPECT_EXIT(hook(HOOK_SERVICE, "x"), testing::ExitedWithCode(7), "");
}

}  // namespace

namespace {

// Calls leave nothing behind in the interpreter: no temporaries, no scalars.
TEST_F(PerlHook, CallsKeepNothing)
{
    start(read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.pl"));
    auto calls = [] {
        for (int i = 0; i < 20000; i++) {
            hook(HOOK_HOST, "PING OK - Packet loss = 0%, RTA = 0.42 ms");
            hook(HOOK_SERVICE, "web-01 HTTP");
            perl_regex_hook("web-01 HTTP HTTP OK: 200", i % 3 ? "web" : "(", i % 2);
        }
    };
    calls();
    const size_t settled = harness_heap_in_use();
    ASSERT_GT(settled, 0u) << "no heap figures in this build";
    calls();
    calls();
    const size_t after = harness_heap_in_use();
    EXPECT_LE(after, settled + 64 * 1024) << settled << " -> " << after;
}

}  // namespace
