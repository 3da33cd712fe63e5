// SPDX-License-Identifier: GPL-2.0-or-later
// Texts of the screen measured in display columns. Names and plugin outputs
// carry UTF-8 (degrees, umlauts, dashes); counted in bytes they would split
// characters and push every later column out of place. Every field is cut
// and padded by the columns its characters take, whole characters only, so
// pure ASCII texts come out exactly as the printf formats would make them.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "quelvan.h"
#include "screen/screen.h"

namespace {

// One character of a text: the bytes to write for it and the columns it takes.
struct glyph {
    const char *out;  // bytes to write
    int out_len;
    int in_len;       // bytes of the source text it stands for
    int cols;
};

// The character at s (len bytes left, len > 0). A byte that starts no valid
// character, and a character that cannot be shown (control characters), is
// shown as one '?', so that it takes exactly one column.
glyph text_next(const char *s, size_t len)
{
    unsigned char c = static_cast<unsigned char>(*s);
    if (c >= 0x20 && c < 0x7f)
        return {s, 1, 1, 1};
    if (c < 0x80)
        return {"?", 1, 1, 1};
    mbstate_t state{};
    wchar_t wc;
    size_t n = mbrtowc(&wc, s, len, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0)
        return {"?", 1, 1, 1};
    int w = wcwidth(wc);
    if (w < 0)
        return {"?", 1, static_cast<int>(n), 1};
    return {s, static_cast<int>(n), static_cast<int>(n), w};
}

// Appends the characters of s that fit in width columns; returns the columns used.
long long text_append_cut(std::string &out, const char *s, long long width)
{
    if (!s)
        return 0;
    size_t len = strlen(s);
    long long used = 0;
    size_t i = 0;
    while (i < len) {
        glyph g = text_next(s + i, len - i);
        if (used + g.cols > width)
            break;
        out.append(g.out, static_cast<size_t>(g.out_len));
        used += g.cols;
        i += static_cast<size_t>(g.in_len);
    }
    return used;
}

// Cuts a composed text to 1023 bytes like the 1024-byte buffers it stands
// for, dropping a character that the cut would split.
void text_limit(std::string &s)
{
    if (s.size() <= TEXT_SIZE - 1)
        return;
    s.resize(TEXT_SIZE - 1);
    size_t start = s.size();
    while (start > 0 && (static_cast<unsigned char>(s[start - 1]) & 0xC0) == 0x80 &&
           s.size() - start < 4)
        start--;
    if (start > 0 && static_cast<unsigned char>(s[start - 1]) >= 0xC0) {
        unsigned char lead = static_cast<unsigned char>(s[start - 1]);
        size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (s.size() - (start - 1) < need)
            s.resize(start - 1);
    }
}

std::string text_format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string text_format(const char *format, ...)
{
    char buf[TEXT_SIZE * 2];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    std::string s(buf, n < 0 ? 0 : static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n)
                                                                          : sizeof buf - 1);
    text_limit(s);
    return s;
}

}  // namespace

int draw_width(const char *s)
{
    if (!s)
        return 0;
    size_t len = strlen(s);
    long long cols = 0;
    for (size_t i = 0; i < len;) {
        glyph g = text_next(s + i, len - i);
        cols += g.cols;
        i += static_cast<size_t>(g.in_len);
    }
    return cols > TEXT_SIZE * 4 ? TEXT_SIZE * 4 : static_cast<int>(cols);
}

std::vector<std::string> draw_wrap(const char *s, size_t len, long long width)
{
    std::vector<std::string> rows;
    if (width <= 0)
        return rows;
    std::string row;
    long long used = 0;
    size_t blank = std::string::npos;  // where row may be broken: after its last blank
    long long blank_used = 0;
    for (size_t i = 0; i < len;) {
        glyph g = text_next(s + i, len - i);
        i += static_cast<size_t>(g.in_len);
        while (used + g.cols > width && !row.empty()) {
            if (blank != std::string::npos && blank > 0) {
                // Break after the last blank; what followed it begins the next row.
                std::string rest = row.substr(blank);
                row.resize(blank);
                rows.push_back(std::move(row));
                row = std::move(rest);
                used -= blank_used;
            } else {
                rows.push_back(std::move(row));
                row.clear();
                used = 0;
            }
            blank = std::string::npos;
        }
        if (g.cols > width)
            continue;  // a character wider than the whole row cannot be shown
        row.append(g.out, static_cast<size_t>(g.out_len));
        used += g.cols;
        if (g.out_len == 1 && g.out[0] == ' ') {
            blank = row.size();
            blank_used = used;
        }
    }
    if (!row.empty() || rows.empty())
        rows.push_back(std::move(row));
    return rows;
}

std::string draw_cut(const char *s, long long width)
{
    std::string out;
    if (width > 0)
        text_append_cut(out, s, width);
    return out;
}

// s cut to width columns and padded with blanks to exactly width columns,
// on the right (left-aligned) or on the left (right-aligned).
static std::string draw_fit(const char *s, int width, bool right_aligned)
{
    std::string text;
    if (width <= 0)
        return text;
    long long used = text_append_cut(text, s, width);
    // Appends rather than operator+: gcc 12 at -O3 warns falsely of overlap there.
    size_t blanks = static_cast<size_t>(width - used);
    if (right_aligned)
        text.insert(0, blanks, ' ');
    else
        text.append(blanks, ' ');
    return text;
}

std::string draw_name_field(const char *name, const char *output, int w)
{
    if (w <= 0)
        return "";
    // The field is a work buffer of 1024 bytes: at most 1023 columns.
    if (w > TEXT_SIZE - 1)
        w = TEXT_SIZE - 1;
    std::string back = draw_fit(output, w, true);
    std::string field;
    long long k = text_append_cut(field, name, w);
    // The part of the right-aligned output that the name leaves uncovered; a
    // wide character half under the name leaves a blank for its other half.
    long long col = 0;
    bool shown = false;
    for (size_t i = 0; i < back.size();) {
        glyph g = text_next(back.data() + i, back.size() - i);
        if (g.cols == 0) {
            if (shown)  // a combining mark stays with its base character
                field.append(g.out, static_cast<size_t>(g.out_len));
        } else if (col >= k) {
            field.append(g.out, static_cast<size_t>(g.out_len));
            shown = true;
        } else {
            if (col + g.cols > k)
                field.append(static_cast<size_t>(col + g.cols - k), ' ');
            shown = false;
        }
        col += g.cols;
        i += static_cast<size_t>(g.in_len);
    }
    return field;
}

std::string draw_state_text(const char *state)
{
    std::string s = draw_fit(state ? state : "", 8, false);
    s += ' ';
    return s;
}

std::string draw_marked_state(const char *state, unsigned char marks)
{
    if (!(marks & (MARK_ACK | MARK_DOWNTIME)))
        return draw_state_text(state);
    std::string s = state ? std::string(state, strnlen(state, 4)) : std::string();
    s += (marks & MARK_DOWNTIME) ? "/DT" : "/ACK";
    return draw_state_text(s.c_str());
}

std::string draw_change_text(const char *last_change, const char *duration)
{
    std::string s = " ";
    s += draw_fit(last_change ? last_change : "", 16, true);
    s += "  ";
    s += draw_fit(duration ? duration : "", 8, true);
    return s;
}

std::string draw_count_text(int total)
{
    const char *format = "%d Alerts";
    if (object_mode == 0)
        format = host_level == 2 ? "%d Down Hosts" : "%d Host Objects";
    else if (service_level == 0)
        format = "%d Service Objects";
    char buf[TEXT_SIZE];
    snprintf(buf, sizeof buf, format, total);
    std::string s(buf);
    if (total == 1)
        s.pop_back();  // the singular
    return s;
}

std::string draw_match_text(int matched)
{
    if (matched == 1)
        return " 1 matches the filter";
    return text_format(" %d match the filter", matched);
}

std::string draw_age_text()
{
    if (filter_set & FILTER_AGE)
        return text_format("Age: all < %s", age_filter);
    if (filter_set & FILTER_OKAY_AGE)
        return text_format(object_mode == 0 ? "Age: up < %s" : "Age: ok < %s", age_okay_filter);
    return "Age: any";
}

std::string draw_sort_text()
{
    return sort_mode == 1 ? "Sort: by age" : "Sort: by name";
}

std::string draw_filter_text()
{
    if (filter_set & FILTER_UNHANDLED) {
        if (filter_set & FILTER_REGEX)
            return text_format("Filter: text =~ /%s/, unhandled", name_filter);
        if (filter_set & FILTER_NOT_REGEX)
            return text_format("Filter: text !~ /%s/, unhandled", not_name_filter);
        return "Filter: unhandled";
    }
    if (filter_set & FILTER_REGEX)
        return text_format("Filter: text =~ /%s/", name_filter);
    if (filter_set & FILTER_NOT_REGEX)
        return text_format("Filter: text !~ /%s/", not_name_filter);
    return "Filter: none";
}

std::string draw_page_text()
{
    return text_format("page %d of %d", cur_page, num_pages);
}
