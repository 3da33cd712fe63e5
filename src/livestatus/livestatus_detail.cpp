// SPDX-License-Identifier: GPL-2.0-or-later
// One object of a Livestatus site for the detail screen, asked for when the
// screen opens: its record and its comments and downtimes, written as the
// stanzas of a status file so that the screen reads both sources alike.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include <simdjson.h>

#include "livestatus/livestatus.h"
#include "quelvan.h"

namespace {

struct detail_column {
    const char *column;    // the Livestatus column
    const char *file_key;  // the key of a status file's stanza
};

// What the record shows beyond the item itself.
constexpr detail_column DETAIL_OBJECT[] = {
    {"long_plugin_output", "long_plugin_output"},
    {"perf_data", "performance_data"},
    {"last_check", "last_check"},
    {"next_check", "next_check"},
    {"current_attempt", "current_attempt"},
    {"max_check_attempts", "max_attempts"},
    {"state_type", "state_type"},
    {"latency", "check_latency"},
    {"execution_time", "check_execution_time"},
    {"notifications_enabled", "notifications_enabled"},
    {"active_checks_enabled", "active_checks_enabled"},
    {"accept_passive_checks", "passive_checks_enabled"},
    {"is_flapping", "is_flapping"},
    {"percent_state_change", "percent_state_change"},
    {"acknowledged", "problem_has_been_acknowledged"},
    {"acknowledgement_type", "acknowledgement_type"},
};
constexpr detail_column DETAIL_COMMENT[] = {
    {"entry_type", "entry_type"}, {"entry_time", "entry_time"}, {"persistent", "persistent"},
    {"expires", "expires"},       {"expire_time", "expire_time"}, {"author", "author"},
    {"comment", "comment_data"},
};
constexpr detail_column DETAIL_DOWNTIME[] = {
    {"entry_time", "entry_time"}, {"start_time", "start_time"}, {"end_time", "end_time"},
    {"fixed", "fixed"},           {"duration", "duration"},     {"author", "author"},
    {"comment", "comment"},
};

// A name fit for a Filter line: one line, no NUL.
bool detail_safe(const char *text)
{
    return text && !strpbrk(text, "\n\r");
}

template <size_t N>
std::string detail_request(const char *table, const detail_column (&columns)[N],
                           const std::string &filters)
{
    std::string r = "GET ";
    r += table;
    r += "\nColumns:";
    for (const detail_column &c : columns) {
        r += ' ';
        r += c.column;
    }
    r += '\n';
    r += filters;
    r += "OutputFormat: json\nResponseHeader: fixed16\n\n";
    return r;
}

// A value as a stanza line holds it: one line; with escapes, a text whose
// newlines and backslashes the screen turns back (long_plugin_output).
void detail_append_value(std::string &out, std::string_view v, bool escapes)
{
    for (char c : v) {
        if (c == '\n')
            out += escapes ? "\\n" : " ";
        else if (c == '\\' && escapes)
            out += "\\\\";
        else if (c == '\0' || c == '\r')
            out += ' ';
        else
            out += c;
    }
}

// Appends one stanza per row of the reply: "type {", a "key=value" line per
// column, "}" (extra holds lines of its own first). False where the reply
// does not parse.
template <size_t N>
bool detail_stanzas(const livestatus_reply &reply, const char *type,
                    const detail_column (&columns)[N], const std::string &extra,
                    std::string &out)
{
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document doc;
    simdjson::ondemand::array rows;
    if (parser.iterate(reply.body.data(), reply.length, reply.body.size()).get(doc) ||
        doc.get_array().get(rows))
        return false;
    for (auto row_value : rows) {
        simdjson::ondemand::array row;
        if (row_value.get_array().get(row))
            return false;
        out += type;
        out += " {\n";
        out += extra;
        size_t k = 0;
        for (auto cell : row) {
            simdjson::ondemand::value v;
            if (cell.get(v))
                return false;
            if (k >= N) {
                k++;
                continue;
            }
            simdjson::ondemand::json_type t;
            if (v.type().get(t))
                return false;
            std::string_view text;
            bool b;
            switch (t) {
            case simdjson::ondemand::json_type::string:
                if (v.get_string().get(text))
                    return false;
                break;
            case simdjson::ondemand::json_type::number:
                text = v.raw_json_token();
                while (!text.empty() && (text.back() == ' ' || text.back() == '\n' ||
                                         text.back() == '\t' || text.back() == '\r'))
                    text.remove_suffix(1);
                break;
            case simdjson::ondemand::json_type::boolean:
                if (v.get_bool().get(b))
                    return false;
                text = b ? "1" : "0";
                break;
            default:
                k++;
                continue;  // null, a list or an object: no line
            }
            out += '\t';
            out += columns[k].file_key;
            out += '=';
            detail_append_value(out, text, strcmp(columns[k].file_key, "long_plugin_output") == 0);
            out += '\n';
            k++;
        }
        out += "\t}\n";
    }
    return true;
}

bool detail_query(const site &s, const std::string &request, int64_t deadline,
                  livestatus_reply &reply, std::string &why)
{
    int fd = -1;
    const bool ok = livestatus_query(fd, s, request, deadline, reply, why);
    livestatus_close(fd);
    if (ok && reply.status != 200) {
        why = "error " + std::to_string(reply.status);
        return false;
    }
    return ok;
}

std::string detail_filters(const char *host, const char *service, bool notes)
{
    std::string f = "Filter: host_name = ";
    f += host;
    f += '\n';
    if (service) {
        f += notes ? "Filter: service_description = " : "Filter: description = ";
        f += service;
        f += '\n';
    } else if (notes) {
        f += "Filter: is_service = 0\n";
    }
    return f;
}

std::string detail_names(const char *host, const char *service)
{
    std::string names = "\thost_name=";
    detail_append_value(names, host, false);
    names += '\n';
    if (service) {
        names += "\tservice_description=";
        detail_append_value(names, service, false);
        names += '\n';
    }
    return names;
}

}  // namespace

std::string livestatus_stanza(const site &s, const char *host, const char *service,
                              int64_t deadline_ms, std::string &why)
{
    if (!detail_safe(host) || (service && !detail_safe(service))) {
        why = "a name of more than one line";
        return "";
    }
    livestatus_reply reply;
    if (!detail_query(s,
                      detail_request(service ? "services" : "hosts", DETAIL_OBJECT,
                                     detail_filters(host, service, false)),
                      deadline_ms, reply, why))
        return "";
    std::string out;
    if (!detail_stanzas(reply, service ? "servicestatus" : "hoststatus", DETAIL_OBJECT,
                        detail_names(host, service), out)) {
        why = "the reply does not parse";
        return "";
    }
    // The first object of the names only, as in a status file.
    const size_t end = out.find("\t}\n");
    return end == std::string::npos ? out : out.substr(0, end + 3);
}

std::string livestatus_notes(const site &s, const char *host, const char *service,
                             int64_t deadline_ms, std::string &why)
{
    if (!detail_safe(host) || (service && !detail_safe(service))) {
        why = "a name of more than one line";
        return "";
    }
    const std::string filters = detail_filters(host, service, true);
    const std::string names = detail_names(host, service);
    livestatus_reply comments, downtimes;
    std::string out;
    if (!detail_query(s, detail_request("comments", DETAIL_COMMENT, filters), deadline_ms,
                      comments, why) ||
        !detail_stanzas(comments, service ? "servicecomment" : "hostcomment", DETAIL_COMMENT,
                        names, out) ||
        !detail_query(s, detail_request("downtimes", DETAIL_DOWNTIME, filters), deadline_ms,
                      downtimes, why))
        return out;
    std::string lines;
    if (!detail_stanzas(downtimes, service ? "servicedowntime" : "hostdowntime",
                        DETAIL_DOWNTIME, names, lines))
        return out;
    // In effect: its time has come and not passed (the daemon's own mark is
    // not a column everywhere).
    const long long now = time(nullptr);
    size_t at = 0;
    while ((at = lines.find(" {\n", at)) != std::string::npos) {
        const size_t end = lines.find("\t}\n", at);
        auto number = [&](const char *key) {
            const std::string k = std::string("\t") + key + "=";
            const size_t p = lines.find(k, at);
            return p < end ? atoll(lines.c_str() + p + k.size()) : 0;
        };
        const bool in_effect = number("start_time") <= now && now < number("end_time");
        lines.insert(end, in_effect ? "\tis_in_effect=1\n" : "\tis_in_effect=0\n");
        at = end;
    }
    return out + lines;
}
