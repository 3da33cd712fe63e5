// SPDX-License-Identifier: GPL-2.0-or-later
// Configuration files: the system-wide file, then the user's $HOME/.quelvanrc.
// Each gives start values of the view and binds regex filters to F1..F12;
// the command line is applied afterwards and overrides them.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frame/frame.h"
#include "perl/perl_hook.h"
#include "quelvan.h"

namespace {

constexpr int CONFIG_TOKENS = 5;  // subject, key, operator, value, a site's command file

bool config_is_separator(char c) { return c == ' ' || c == '\t'; }

// Splits line in place at runs of blanks and tabs into at most five tokens;
// whatever follows the fifth is ignored (and the fifth by all but sites). Returns how many were found.
int config_split(char *line, char *tokens[CONFIG_TOKENS])
{
    int n = 0;
    char *p = line;
    while (n < CONFIG_TOKENS) {
        while (config_is_separator(*p))
            p++;
        if (*p == '\0')
            break;
        tokens[n++] = p;
        while (*p != '\0' && !config_is_separator(*p))
            p++;
        if (*p == '\0')
            break;
        *p++ = '\0';
    }
    return n;
}

// A function-key subject: 'f' and a number as "%d" reads it (blanks, a sign,
// digits, anything after them ignored). A number that does not fit in an int
// is reported as out of range rather than wrapped into a slot.
bool config_fkey_subject(const char *token, long long &slot)
{
    if (token[0] != 'f')
        return false;
    const char *p = token + 1;
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!isdigit(static_cast<unsigned char>(*p)))
        return false;
    long long n = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); p++)
        if (n <= INT_MAX)
            n = n * 10 + (*p - '0');
    slot = negative ? -n : n;
    return true;
}

// A value in slashes; the text between them goes into dst (one slash alone
// or two slashes give the empty text).
bool config_regex_value(const char *value, char *dst)
{
    size_t len = strlen(value);
    if (len == 0 || value[0] != '/' || value[len - 1] != '/')
        return false;
    size_t n = len >= 2 ? len - 2 : 0;
    if (n > TEXT_SIZE - 1)
        n = TEXT_SIZE - 1;
    memcpy(dst, value + 1, n);
    dst[n] = '\0';
    return true;
}

// "default age = ..." and "default okay_age = ...": the filter changes only
// when the value is an age other than 0; setting one age filter turns the
// other one off.
bool config_age(const char *value, char *text, int *secs, int bit, int partner)
{
    char scratch[TEXT_SIZE];
    text_copy(scratch, value);
    int parsed = parse_age_filter(scratch, TEXT_SIZE);
    if (parsed == 0)
        return false;
    *secs = parsed;
    text_copy(text, scratch);
    filter_set = (filter_set | bit) & ~partner;
    return true;
}

bool config_level(const char *value)
{
    struct level_word {
        const char *word;
        int mode;
        int level;
    };
    static const level_word levels[] = {
        {"OKAY", 1, 0}, {"WARNING", 1, 1}, {"CRITICAL", 1, 2}, {"UP", 0, 0}, {"DOWN", 0, 2},
    };
    for (const level_word &l : levels) {
        if (strcmp(value, l.word) != 0)
            continue;
        object_mode = l.mode;
        (l.mode == 0 ? host_level : service_level) = l.level;
        return true;
    }
    return false;
}

// A value of two words: on sets flag to 1, off to 0; any other is an error.
bool config_word(const char *value, const char *on, const char *off, int &flag)
{
    if (strcmp(value, on) == 0)
        flag = 1;
    else if (strcmp(value, off) == 0)
        flag = 0;
    else
        return false;
    return true;
}

bool config_ascii_word(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool config_site_name(const char *name)
{
    size_t len = strlen(name);
    if (len == 0 || len >= SITE_NAME_SIZE)
        return false;
    // ASCII only, whatever the locale says of other letters.
    for (const char *p = name; *p; p++)
        if (!config_ascii_word(*p) && *p != '-')
            return false;
    for (int i = 0; i < site_count; i++)
        if (strcmp(sites[i].name, name) == 0)
            return false;
    return true;
}

// A TCP port: 1..65535 in decimal digits only.
bool config_port(const char *text, int &port)
{
    if (*text == '\0' || strlen(text) > 5)
        return false;
    long n = 0;
    for (const char *p = text; *p; p++) {
        if (!isdigit(static_cast<unsigned char>(*p)))
            return false;
        n = n * 10 + (*p - '0');
    }
    if (n < 1 || n > 65535)
        return false;
    port = static_cast<int>(n);
    return true;
}

// A Livestatus address: a path (it holds a '/'), HOST:PORT or [IPV6]:PORT.
bool config_livestatus(const char *address, site &s)
{
    if (strchr(address, '/')) {
        if (strlen(address) >= TEXT_SIZE)
            return false;
        s.kind = SITE_LIVESTATUS_UNIX;
        text_copy(s.path, address);
        return true;
    }
    const char *colon;
    const char *host = address;
    size_t host_len;
    if (address[0] == '[') {
        const char *close = strchr(address, ']');
        if (!close || close[1] != ':')
            return false;
        host = address + 1;
        host_len = static_cast<size_t>(close - host);
        colon = close + 1;
        if (memchr(host, ':', host_len) == nullptr)
            return false;  // brackets are for IPv6 addresses
    } else {
        colon = strchr(address, ':');
        if (!colon || strchr(colon + 1, ':'))
            return false;  // an IPv6 address goes in brackets
        host_len = static_cast<size_t>(colon - address);
    }
    if (host_len == 0 || host_len >= TEXT_SIZE || !config_port(colon + 1, s.port))
        return false;
    for (size_t i = 0; i < host_len; i++)
        if (!config_ascii_word(host[i]) && host[i] != '.' && host[i] != '-' && host[i] != ':')
            return false;
    memcpy(s.host, host, host_len);
    s.host[host_len] = '\0';
    s.kind = SITE_LIVESTATUS_TCP;
    return true;
}

// "site NAME = status:PATH [COMMAND_FILE]", "site NAME = livestatus:ADDRESS".
bool config_site(const char *name, const char *value, const char *command)
{
    if (site_count >= MAX_SITES || !config_site_name(name))
        return false;
    site s{};
    snprintf(s.name, sizeof s.name, "%s", name);
    if (strncmp(value, "status:", 7) == 0) {
        if (value[7] == '\0' || strlen(value + 7) >= TEXT_SIZE ||
            (command && strlen(command) >= TEXT_SIZE))
            return false;
        s.kind = SITE_STATUS;
        text_copy(s.path, value + 7);
        if (command)
            text_copy(s.command_file, command);
    } else if (strncmp(value, "livestatus:", 11) == 0) {
        if (command || !config_livestatus(value + 11, s))
            return false;
    } else {
        return false;
    }
    sites[site_count++] = s;
    return true;
}

// Applies one statement; false when it is a syntax error (nothing changed).
bool config_statement(char *line)
{
    char *tok[CONFIG_TOKENS];
    int n = config_split(line, tok);
    if (n == 0)
        return false;  // blanks and tabs only
    if (tok[0][0] == '#')
        return true;  // an indented comment
    if (n < 4)
        return false;
    const char *subject = tok[0], *key = tok[1], *op = tok[2], *value = tok[3];
    char regex[TEXT_SIZE];

    if (strcmp(subject, "site") == 0)
        return strcmp(op, "=") == 0 && config_site(key, value, n > 4 ? tok[4] : nullptr);

    if (strcmp(subject, "default") == 0 && strcmp(key, "text") == 0) {
        bool positive = strcmp(op, "=~") == 0;
        if ((!positive && strcmp(op, "!~") != 0) || !config_regex_value(value, regex))
            return false;
        // A file leaves the other regex bit alone, so a positive filter of one
        // file and a negative one of the other can both be on.
        text_copy(positive ? name_filter : not_name_filter, regex);
        filter_set |= positive ? FILTER_REGEX : FILTER_NOT_REGEX;
        return true;
    }

    long long slot;
    if (config_fkey_subject(subject, slot)) {
        if (slot < 0 || slot >= NUM_FKEYS || strcmp(key, "text") != 0 ||
            !config_regex_value(value, regex))
            return false;
        if (strcmp(op, "=~") == 0)
            text_copy(fkey_name_filters[slot], regex);
        else if (strcmp(op, "!~") == 0)
            text_copy(fkey_not_name_filters[slot], regex);
        else
            return false;
        return true;
    }

    if (strcmp(subject, "default") != 0 || strcmp(op, "=") != 0)
        return false;
    if (strcmp(key, "age") == 0)
        return config_age(value, age_filter, &age_filter_secs, FILTER_AGE, FILTER_OKAY_AGE);
    if (strcmp(key, "okay_age") == 0)
        return config_age(value, age_okay_filter, &age_okay_filter_secs, FILTER_OKAY_AGE,
                          FILTER_AGE);
    if (strcmp(key, "sort_order") == 0)
        return config_word(value, "by_age", "by_name", sort_mode);
    if (strcmp(key, "level") == 0)
        return config_level(value);
    if (strcmp(key, "handled") == 0) {
        if (strcmp(value, "hidden") == 0)
            filter_set |= FILTER_UNHANDLED;
        else if (strcmp(value, "shown") == 0)
            filter_set &= ~FILTER_UNHANDLED;
        else
            return false;
        return true;
    }
    if (strcmp(key, "alert") == 0) {
        if (strcmp(value, "off") == 0)
            alert_mode = 0;
        else if (strcmp(value, "bell") == 0)
            alert_mode = 1;
        else if (strcmp(value, "flash") == 0)
            alert_mode = 2;
        else
            return false;
        return true;
    }
    if (strcmp(key, "site_name") == 0) {
        text_copy(site_name, value);
        return true;
    }
    if (strcmp(key, "command_file") == 0) {
        text_copy(command_file, strcmp(value, "none") == 0 ? "" : value);
        return true;
    }
    if (strcmp(key, "site_timeout") == 0) {
        char scratch[TEXT_SIZE];
        text_copy(scratch, value);
        int secs = parse_age_filter(scratch, TEXT_SIZE);
        if (secs <= 0)
            return false;
        site_timeout_secs = secs;
        return true;
    }
    if (strcmp(key, "ack") == 0)
        return config_word(value, "sticky", "normal", ack_sticky);
    if (strcmp(key, "ack_notify") == 0)
        return config_word(value, "yes", "no", ack_notify);
    return false;
}

}  // namespace

void read_dot_files()
{
    for (int i = 0; i < NUM_FKEYS; i++)
        fkey_name_filters[i][0] = fkey_not_name_filters[i][0] = '\0';
    site_count = 0;
    read_dot_file(system_rc_path);
    if (const char *home = getenv("HOME")) {
        char path[TEXT_SIZE];
        snprintf(path, sizeof path, "%s/%s", home, ".quelvanrc");
        read_dot_file(path);
    }
}

void read_dot_file(const char *path)
{
    // Only a regular file is read: opening a FIFO would wait for a writer
    // for ever, and a directory or device holds no statements.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;  // both files are optional
    struct stat st;
    FILE *f = nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(f = fdopen(fd, "r"))) {
        close(fd);
        return;
    }
    // A line longer than the buffer is read in pieces; each piece is handled
    // and counted as a line of its own.
    char line[TEXT_SIZE];
    long long number = 0;
    while (fgets(line, sizeof line, f)) {
        number++;
        size_t len = strlen(line);
        if (len > 0 && line[len - 1] == '\n')
            line[len - 1] = '\0';
        if (line[0] == '\0' || line[0] == '#')
            continue;
        if (!config_statement(line)) {
            printf("%s: syntax error on line %lld\n", path, number);
            fflush(stdout);  // before curses takes over the terminal
        }
    }
    fclose(f);
}
