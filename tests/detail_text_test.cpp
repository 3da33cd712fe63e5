// SPDX-License-Identifier: GPL-2.0-or-later
// The detail screen's texts: the long output unescaped, performance data as
// metrics, and the bar of a metric in its range.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "detail/detail.h"

namespace {

std::string unescape(const std::string &s) { return detail_unescape(s.data(), s.size()); }

std::vector<detail_metric> perfdata(const std::string &s) { return detail_perfdata(s.data(), s.size()); }

TEST(DetailUnescape, FileEscapesUndoneOthersKept)
{
    const struct {
        std::string file;
        std::string meant;
    } cases[] = {
        {"line 1\\nline 2", "line 1\nline 2"},
        {"C:\\\\Temp\\\\new", "C:\\Temp\\new"},
        {"a literal \\\\n in text", "a literal \\n in text"},
        {"ends in a backslash\\", "ends in a backslash\\"},
        {"\\", "\\"},
        {"\\\\\\", "\\\\"},
        {"tab \\t stays", "tab \\t stays"},
        {"bare\rCR", "bare\rCR"},
        {"\\n\\n", "\n\n"},
        {std::string("nul\0\\n", 6), std::string("nul\0\n", 5)},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(unescape(c.file), c.meant) << "file text \"" << c.file << "\"";
}

TEST(DetailUnescape, LongOutputOfManyLines)
{
    std::string file, meant;
    while (file.size() < 64 * 1024) {
        file += "volume ok\\n";
        meant += "volume ok\n";
    }
    EXPECT_EQ(unescape(file), meant);
}

// A metric as expected: parsed ones by their fields, raw ones by raw alone.
struct metric_want {
    bool parsed;
    const char *raw;
    const char *label = "";
    const char *value = "";
    const char *unit = "";
    const char *warn = "";
    const char *crit = "";
    const char *min = "";
    const char *max = "";
};

struct perf_case {
    const char *name;
    const char *text;
    std::vector<metric_want> want;
};

const perf_case perf_cases[] = {
    {"ping_as_nagios_writes_it",
     "rta=0.420000ms;100.000000;500.000000;0.000000 pl=0%;20;60;0",
     {{true, "rta=0.420000ms;100.000000;500.000000;0.000000", "rta", "0.420000", "ms", "100.000000",
       "500.000000", "0.000000", ""},
      {true, "pl=0%;20;60;0", "pl", "0", "%", "20", "60", "0", ""}}},
    {"every_field", "used=48;1;10;0;120", {{true, "used=48;1;10;0;120", "used", "48", "", "1", "10", "0", "120"}}},
    {"value_alone", "total=120", {{true, "total=120", "total", "120"}}},
    {"units",
     "a=1s b=2us c=3B d=4KB e=5MB f=6TB g=7c",
     {{true, "a=1s", "a", "1", "s"},
      {true, "b=2us", "b", "2", "us"},
      {true, "c=3B", "c", "3", "B"},
      {true, "d=4KB", "d", "4", "KB"},
      {true, "e=5MB", "e", "5", "MB"},
      {true, "f=6TB", "f", "6", "TB"},
      {true, "g=7c", "g", "7", "c"}}},
    {"other_unit_as_written", "temp=21.5degC;30", {{true, "temp=21.5degC;30", "temp", "21.5", "degC", "30"}}},
    {"negative_and_decimal",
     "offset=-0.0123s;-1:1;-2:2 x=.5 y=+3 z=1.5e3",
     {{true, "offset=-0.0123s;-1:1;-2:2", "offset", "-0.0123", "s", "-1:1", "-2:2"},
      {true, "x=.5", "x", ".5"},
      {true, "y=+3", "y", "+3"},
      {true, "z=1.5e3", "z", "1.5e3"}}},
    {"ranges_as_written",
     "a=5;10:20;@10:20;~:5;10:",
     {{true, "a=5;10:20;@10:20;~:5;10:", "a", "5", "", "10:20", "@10:20", "~:5", "10:"}}},
    {"empty_warn_and_crit", "load=1.5;;;0;4", {{true, "load=1.5;;;0;4", "load", "1.5", "", "", "", "0", "4"}}},
    {"fields_past_max_dropped", "a=1;2;3;4;5;6;7", {{true, "a=1;2;3;4;5;6;7", "a", "1", "", "2", "3", "4", "5"}}},
    {"undetermined_value", "a=U;1;2", {{true, "a=U;1;2", "a", "U", "", "1", "2"}}},
    {"quoted_label_with_blanks",
     "'disk usage /var'=56%;80;90;0;100",
     {{true, "'disk usage /var'=56%;80;90;0;100", "disk usage /var", "56", "%", "80", "90", "0", "100"}}},
    {"quoted_label_with_equals", "'a=b'=1", {{true, "'a=b'=1", "a=b", "1"}}},
    {"doubled_quote_in_label", "'it''s'=3 '''x'''=4",
     {{true, "'it''s'=3", "it's", "3"}, {true, "'''x'''=4", "'x'", "4"}}},
    {"blanks_and_tabs_around", "  a=1 \t  b=2  ", {{true, "a=1", "a", "1"}, {true, "b=2", "b", "2"}}},
    {"garbage_between_metrics", "a=1 garbage b=2",
     {{true, "a=1", "a", "1"}, {false, "garbage"}, {true, "b=2", "b", "2"}}},
    {"no_value", "a= b=;1 c=x d=2", {{false, "a="}, {false, "b=;1"}, {false, "c=x"}, {true, "d=2", "d", "2"}}},
    {"empty_label", "''=1 =2", {{false, "''=1"}, {false, "=2"}}},
    {"semicolons_alone", ";;;;;", {{false, ";;;;;"}}},
    {"unterminated_quote", "'abc=1 b=2", {{false, "'abc=1"}, {true, "b=2", "b", "2"}}},
    {"text_after_closing_quote", "'a'x=1 'b' =2", {{false, "'a'x=1"}, {false, "'b'"}, {false, "=2"}}},
    {"empty", "", {}},
};

// ctest names a case by its name, not by its bytes.
void PrintTo(const perf_case &c, std::ostream *os) { *os << c.name; }

class DetailPerfdata : public testing::TestWithParam<perf_case> {};

TEST_P(DetailPerfdata, PiecesInOrder)
{
    const perf_case &c = GetParam();
    std::vector<detail_metric> got = perfdata(c.text);
    ASSERT_EQ(got.size(), c.want.size());
    for (size_t i = 0; i < got.size(); i++) {
        const detail_metric &g = got[i];
        const metric_want &w = c.want[i];
        SCOPED_TRACE("piece " + std::to_string(i) + " \"" + w.raw + "\"");
        EXPECT_EQ(g.parsed, w.parsed);
        EXPECT_EQ(g.raw, w.raw);
        EXPECT_EQ(g.label, w.label);
        EXPECT_EQ(g.value, w.value);
        EXPECT_EQ(g.unit, w.unit);
        EXPECT_EQ(g.warn, w.warn);
        EXPECT_EQ(g.crit, w.crit);
        EXPECT_EQ(g.min, w.min);
        EXPECT_EQ(g.max, w.max);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, DetailPerfdata, testing::ValuesIn(perf_cases),
                         [](const testing::TestParamInfo<perf_case> &i) { return std::string(i.param.name); });

// 100,000 metrics behind a quote that never closes: each read once, and the
// stray quote swallows none of them.
TEST(DetailPerfdataLarge, ManyMetricsBehindAStrayQuote)
{
    std::string text = "'stray ";
    for (int i = 0; i < 100000; i++)
        // Appended piece by piece: gcc 12 -O3 misreads the sum (-Wrestrict).
        text.append("m").append(std::to_string(i)).append("=").append(std::to_string(i)).append("ms;1;2;0;100000 ");
    std::vector<detail_metric> got = perfdata(text);
    ASSERT_EQ(got.size(), 100001u);
    EXPECT_FALSE(got[0].parsed);
    EXPECT_EQ(got[0].raw, "'stray");
    EXPECT_EQ(got.back().label, "m99999");
    EXPECT_EQ(got.back().value, "99999");
    EXPECT_EQ(got.back().max, "100000");
}

struct bar_case {
    const char *perfdata;
    int width;
    const char *bar;
};

TEST(DetailBar, WidthsAndRanges)
{
    const bar_case cases[] = {
        {"pl=50%", 12, "[#####     ]"},
        {"pl=0%", 12, "[          ]"},
        {"pl=100%", 12, "[##########]"},
        {"pl=33.4%", 12, "[###       ]"},
        {"pl=50%;;;0;200", 12, "[###       ]"},  // the metric's own range before 0..100
        {"used=48;1;10;0;120", 7, "[##   ]"},
        {"t=0;;;-10;10", 12, "[#####     ]"},
        {"below=-5;;;0;10", 7, "[     ]"},
        {"above=50;;;0;10", 7, "[#####]"},
        {"pl=150%", 4, "[##]"},
        {"pl=-1%", 4, "[  ]"},
        // too narrow for brackets
        {"pl=100%", 2, "##"},
        {"pl=50%", 2, "# "},
        {"pl=100%", 1, "#"},
        {"pl=40%", 1, " "},
        {"pl=100%", 3, "[#]"},
        {"pl=50%", 0, ""},
        {"pl=50%", -1, ""},
        // no range known
        {"rta=0.42ms;100;500;0", 12, ""},
        {"x=5;;;;10", 12, ""},
        {"x=5;;;10;10", 12, ""},
        {"x=5;;;10;0", 12, ""},
        {"x=5;;;~;10", 12, ""},
        {"x=5;;;0;10:", 12, ""},
        {"x=U;;;0;10", 12, ""},
        {"x=1e999;;;0;10", 12, ""},
        {"garbage", 12, ""},
        {"x=5;;;-1e308;1e308", 12, "[#####     ]"},
    };
    for (const bar_case &c : cases) {
        std::vector<detail_metric> m = perfdata(c.perfdata);
        ASSERT_EQ(m.size(), 1u) << c.perfdata;
        EXPECT_EQ(detail_bar(m[0], c.width), c.bar) << c.perfdata << " in " << c.width << " columns";
    }
}

TEST(DetailBar, WideBarIsExactlyItsWidth)
{
    detail_metric m = perfdata("pl=25%")[0];
    std::string bar = detail_bar(m, 1000002);
    ASSERT_EQ(bar.size(), 1000002u);
    EXPECT_EQ(bar.find_first_not_of('#', 1), 250001u);
    EXPECT_EQ(bar.back(), ']');
}

}  // namespace
