#!/usr/bin/perl
# SPDX-License-Identifier: GPL-2.0-or-later
# The table of scripts/bench: the medians of the last run's Google Benchmark
# results in DIR, beside their targets.
#
#   perl scripts/bench-table.pl DIR REPETITIONS
use strict;
use warnings;
use JSON::PP;
my ($dir, $reps) = @ARGV;
sub load { my $f = shift; local $/; open my $h, "<", $f or die "$f: $!";
           my $text = <$h>;
           $text =~ s/(?<=[:\s])-?(?:nan|NaN|inf|Infinity)\b/null/g;  # no JSON numbers
           return decode_json($text)->{benchmarks} }
my %m;    # median of each benchmark: name -> record
for my $f (glob "$dir/{refresh,hooks,redraw,tty}.json") {
    for my $b (@{ load($f) }) {
        next unless ($b->{aggregate_name} // "") eq "median";
        (my $n = $b->{run_name}) =~ s{/(iterations|repeats):\d+|/manual_time}{}g;
        $m{$n} = $b;
    }
}
my @first = sort { $a <=> $b } map { load($_)->[0]{real_time} } glob "$dir/first-*.json";
my $first = @first ? $first[$#first / 2] : -1;
# A missing result (a benchmark that failed) shows as n/a.
sub ms { my $b = $m{$_[0]}; return $b ? $b->{real_time} : undef }
sub cpu { my $b = $m{$_[0]}; return $b ? $b->{cpu_time} : undef }
sub c { my $b = $m{$_[0]}; return $b ? $b->{$_[1]} : undef }
sub f { my $fmt = shift; return (grep { !defined } @_) ? "n/a" : sprintf $fmt, @_ }

my $wc = ms("BM_WcL");
my $refresh = ms("BM_RefreshFullCapacity");
my $startup = ms("BM_StartUpToFirstScreen");
# In-process work is compared by processor time: on a busy machine the
# wall time of a run says more about the other processes than about it.
my $floor1 = cpu("BM_RegexCallsAlone/1/1");
my $floor3 = cpu("BM_RegexCallsAlone/3/1");
my $key = defined ms("BM_PagingKey") ? ms("BM_PagingKey") - 200 : undef;
chomp(my $cores = `nproc`);
chomp(my $load = `cut -d" " -f1-3 /proc/loadavg`);
printf "quelvan scale benchmarks: %d cores, load average %s, medians of %d runs\n",
    $cores, $load, $reps;
print f("status file: %.0f MB, %.1f million lines, %d hosts, %d services",
    c("BM_RefreshFullCapacity", "file_MB"), c("BM_RefreshFullCapacity", "lines") / 1e6,
    c("BM_RefreshFullCapacity", "hosts"), c("BM_RefreshFullCapacity", "services")), "\n\n";
my @rows = (
    ["wc -l of the same file", f("%.0f ms", $wc), "", ""],
    ["1 refresh, pause excluded", f("%.0f ms (cpu %.0f)", $refresh, cpu("BM_RefreshFullCapacity")),
     f("<= %.0f ms (8 x wc -l)", 8 * ($wc // 0)), f("%.1f x wc -l", $refresh / ($wc || 1))],
    ["1 refresh with the alert on, cpu", f("%.0f ms", cpu("BM_RefreshWithAlert")),
     f("<= %.0f ms (refresh + 30)", (cpu("BM_RefreshFullCapacity") // 0) + 30), ""],
    ["1 first refresh of a process", f("%.0f ms", $first), "", ""],
    ["1 peak RSS, refresh benchmark", f("%.0f MB", c("BM_RefreshFullCapacity", "peak_MB")),
     "<= 350 MB", ""],
    ["1 peak RSS, the console at start-up", f("%.0f MB", c("BM_StartUpToFirstScreen", "console_peak_MB")),
     "<= 350 MB", ""],
    ["2 start-up to the first screen", f("%.0f ms", $startup),
     f("<= %.0f ms (refresh + 300)", ($refresh // 0) + 300),
     f("console cpu %.0f ms", 1000 * (c("BM_StartUpToFirstScreen", "console_cpu_s") // 0))],
    ["3 redraw, no filter", f("%.1f ms (cpu %.1f)", ms("BM_Redraw/0"), cpu("BM_Redraw/0")),
     "<= 20 ms", ""],
    ["3 redraw, unhandled only", f("%.1f ms (cpu %.1f)", ms("BM_Redraw/16"), cpu("BM_Redraw/16")),
     "<= 2 ms", ""],
    ["3 redraw, regex filter, cpu", f("%.0f ms", cpu("BM_Redraw/1")),
     f("<= %.0f ms (1.5 x floor)", 1.5 * ($floor1 // 0)),
     f("%.2f x floor", (cpu("BM_Redraw/1") // 0) / ($floor1 || 1))],
    ["3   its hook calls alone, floor, cpu", f("%.0f ms", $floor1), "",
     f("%d calls", c("BM_RegexCallsAlone/1/1", "calls"))],
    ["3   its hook calls alone, console, cpu", f("%.0f ms", cpu("BM_RegexCallsAlone/1/0")), "",
     f("%.2f x floor", (cpu("BM_RegexCallsAlone/1/0") // 0) / ($floor1 || 1))],
    ["3 redraw, both regex filters, cpu", f("%.0f ms", cpu("BM_Redraw/3")),
     f("<= %.0f ms (2 x 1.5 x floor)", 3 * ($floor1 // 0)),
     f("%.2f x floor of its own calls", (cpu("BM_Redraw/3") // 0) / ($floor3 || 1))],
    ["3   its hook calls alone, floor, cpu", f("%.0f ms", $floor3), "",
     f("%d calls", c("BM_RegexCallsAlone/3/1", "calls"))],
    ["4 paging key, pause excluded", f("%.0f ms", $key), "<= 30 ms",
     f("%.0f ms with the 200 ms pause", ms("BM_PagingKey"))],
    (map { my $n = $_; ["5 refresh at $n items of each kind",
          f("%.0f ms", ms("BM_RefreshAtSize/$n")), "",
          f("%.0f ns cpu per item", c("BM_RefreshAtSize/$n", "cpu_ns_per_item"))] }
         25000, 100000, 250000),
    ["  text hook call, cpu", f("%.3f us", 1e3 * (cpu("BM_text_hooks") // 0) / 750000),
     "", f("floor %.3f us", 1e3 * (cpu("BM_text_hooks_floor") // 0) / 750000)],
    ["  regex hook call, cpu", f("%.3f us", 1e3 * (cpu("BM_regex_hook/0") // 0) / 250000),
     "", f("floor %.3f us", 1e3 * (cpu("BM_regex_hook_floor/0") // 0) / 250000)],
);
printf "%-38s %-22s %-30s %s\n", "goal", "median", "target", "beside";
printf "%-38s %-22s %-30s %s\n", @$_ for @rows;
