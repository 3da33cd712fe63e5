// SPDX-License-Identifier: GPL-2.0-or-later
// The texts of a record as the detail screen shows them: the long output's
// lines, the performance data's metrics and a bar per metric.
#include <charconv>
#include <iterator>

#include "detail/detail.h"

std::string detail_unescape(const char *text, size_t len)
{
    std::string out;
    out.reserve(len);
    for (size_t i = 0; i < len; i++) {
        if (text[i] == '\\' && i + 1 < len && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += text[i + 1] == 'n' ? '\n' : '\\';
            i++;
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

constexpr size_t perf_none = static_cast<size_t>(-1);

bool perf_blank(char c) { return c == ' ' || c == '\t'; }

// The length of the number at the start of [p, p + len): a sign, digits with
// at most one point, an exponent; 0 when there is none.
size_t perf_number_length(const char *p, size_t len)
{
    size_t i = 0;
    if (i < len && (p[i] == '-' || p[i] == '+'))
        i++;
    size_t digits = 0;
    for (; i < len && p[i] >= '0' && p[i] <= '9'; i++)
        digits++;
    if (i < len && p[i] == '.')
        for (i++; i < len && p[i] >= '0' && p[i] <= '9'; i++)
            digits++;
    if (digits == 0)
        return 0;
    if (i + 1 < len && (p[i] == 'e' || p[i] == 'E')) {
        size_t e = i + 1;
        if (e < len && (p[e] == '-' || p[e] == '+'))
            e++;
        if (e < len && p[e] >= '0' && p[e] <= '9') {
            while (e < len && p[e] >= '0' && p[e] <= '9')
                e++;
            i = e;
        }
    }
    return i;
}

// A whole text that is one finite number; from_chars, unlike strtod, does
// not follow the locale's decimal point.
bool perf_to_double(const std::string &s, double &out)
{
    if (s.empty() || perf_number_length(s.data(), s.size()) != s.size())
        return false;
    const char *p = s.data() + (s[0] == '+' ? 1 : 0);
    auto [end, ec] = std::from_chars(p, s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

// Where the label quoted at text[at] closes: the first ' that is not one of
// a doubled pair, or perf_none. The scan stays within the piece it closes;
// only one can run to the end unclosed, as every later run of quotes then
// has an even length and closes its own opening quote.
size_t perf_close_quote(const char *text, size_t len, size_t at)
{
    for (size_t i = at + 1; i < len; i++) {
        if (text[i] != '\'')
            continue;
        if (i + 1 < len && text[i + 1] == '\'')
            i++;
        else
            return i;
    }
    return perf_none;
}

// The fields after the "=" of a metric, [p, p + len): value with its unit,
// then warn, crit, min and max; fields beyond max are left in raw only.
void perf_fields(const char *p, size_t len, detail_metric &m)
{
    std::string *fields[] = {&m.value, &m.warn, &m.crit, &m.min, &m.max};
    size_t f = 0;
    size_t start = 0;
    for (size_t i = 0; i <= len && f < std::size(fields); i++)
        if (i == len || p[i] == ';') {
            fields[f++]->assign(p + start, i - start);
            start = i + 1;
        }
    // The value is the number; what follows it is its unit.
    size_t number = perf_number_length(m.value.data(), m.value.size());
    if (number == 0 && m.value.starts_with('U'))
        number = 1;  // a value the plugin could not determine
    m.unit = m.value.substr(number);
    m.value.resize(number);
}

}  // namespace

std::vector<detail_metric> detail_perfdata(const char *text, size_t len)
{
    std::vector<detail_metric> out;
    size_t i = 0;
    while (i < len) {
        if (perf_blank(text[i])) {
            i++;
            continue;
        }
        size_t start = i;
        detail_metric m{};
        size_t eq = perf_none;
        if (text[i] == '\'') {
            size_t close = perf_close_quote(text, len, i);
            if (close != perf_none) {
                for (size_t q = i + 1; q < close; q++) {
                    m.label += text[q];
                    if (text[q] == '\'')
                        q++;  // the doubled quote's second half
                }
                i = close + 1;
                if (i < len && text[i] == '=')
                    eq = i;
            }
        } else {
            while (i < len && !perf_blank(text[i]) && text[i] != '=')
                i++;
            m.label.assign(text + start, i - start);
            if (i < len && text[i] == '=')
                eq = i;
        }
        while (i < len && !perf_blank(text[i]))
            i++;
        m.raw.assign(text + start, i - start);
        if (eq != perf_none && !m.label.empty()) {
            perf_fields(text + eq + 1, i - eq - 1, m);
            m.parsed = !m.value.empty();
        }
        if (!m.parsed)
            m = detail_metric{false, std::move(m.raw), {}, {}, {}, {}, {}, {}, {}};
        out.push_back(std::move(m));
    }
    return out;
}

std::string detail_bar(const detail_metric &m, int width)
{
    double value, lo, hi;
    if (!m.parsed || width <= 0 || !perf_to_double(m.value, value))
        return "";
    bool percent = m.unit == "%";
    if (!perf_to_double(m.min, lo)) {
        if (!percent)
            return "";
        lo = 0;
    }
    if (!perf_to_double(m.max, hi)) {
        if (!percent)
            return "";
        hi = 100;
    }
    if (!(hi > lo))
        return "";
    // Too narrow for brackets around a cell: the cells alone.
    bool brackets = width >= 3;
    size_t cells = static_cast<size_t>(width) - (brackets ? 2 : 0);
    // Halved, so that no difference of finite numbers overflows.
    double share = value <= lo ? 0 : value >= hi ? 1 : (value / 2 - lo / 2) / (hi / 2 - lo / 2);
    if (!(share >= 0 && share <= 1))
        share = 0;  // a span too small to divide by
    size_t filled = static_cast<size_t>(share * static_cast<double>(cells) + 0.5);
    if (filled > cells)
        filled = cells;
    std::string bar;
    bar.reserve(static_cast<size_t>(width));
    if (brackets)
        bar += '[';
    bar.append(filled, '#');
    bar.append(cells - filled, ' ');
    if (brackets)
        bar += ']';
    return bar;
}
