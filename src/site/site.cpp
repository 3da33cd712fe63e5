// SPDX-License-Identifier: GPL-2.0-or-later
// The sites' snapshots and the one view composed of them. Each read fills
// the shared tables as the status reader always has; a good read is then
// taken out into its site's snapshot, and the view is composed anew from
// every site's last good snapshot, in site order. Livestatus replies are
// fetched on threads of their own (network only: the hooks and the tables
// stay on the main thread), so a dead site holds up neither the others nor
// the keyboard.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "livestatus/livestatus.h"
#include "quelvan.h"
#include "site/site.h"
#include "site/site_private.h"
#include "status/status.h"

unsigned char host_idx_to_site[MAX_ITEMS];
unsigned char service_idx_to_site[MAX_ITEMS];

namespace {

// A site's items as its last good read gave them; the texts are its own.
// A lone Livestatus site's items are the tables themselves (site_in_place):
// its snapshot holds only what is said of them.
struct site_snapshot {
    std::vector<item> hosts, services;
    std::vector<int> host_levels, service_levels;
    std::vector<unsigned char> host_marks, service_marks;
    std::vector<int64_t> host_offsets, service_offsets;
    std::vector<uint32_t> host_hashes, service_hashes;
    std::vector<char *> kept;  // descriptions kept for the alert, by service
    std::vector<char *> descriptions;  // Livestatus: each service's as the site gave it
    int first_host = 0, first_service = 0;  // where its items begin in the view
    void *texts = nullptr;
    int now = 0;
    char last_update[21] = "";
    int fd = -1;  // a status site's file, kept open for the detail screen
    int64_t notes_offset = 0;
    int up = 0, down = 0, okay = 0, warn = 0, crit = 0;
};

// A Livestatus read in the background. The thread alone touches fd and
// fetched while busy; busy and done change under site_lock.
struct site_job {
    site where;
    int fd = -1;  // the connection, kept from one read to the next
    livestatus_fetched fetched;
    std::string why;
    bool ok = false;
    bool busy = false;
    bool done = false;
    int64_t deadline = 0;
};

struct site_state {
    site_snapshot snap;
    bool read = false;     // a good read is in snap
    bool failing = false;  // the last read failed
    time_t failing_since = 0;
    std::string reason;
    std::shared_ptr<site_job> job;
};

std::vector<site_state> site_states;
// Never destroyed: a thread past its time may still take it at exit.
std::mutex &site_lock = *new std::mutex;
int site_pipe[2] = {-1, -1};
bool site_bad_news = false;  // a site turned bad since the last composition
constexpr int64_t SITE_START_WAIT_MS = 2000;  // the first screen's wait for the sites

// A lone Livestatus site is read into the view's tables in place, as the
// status file is: its fetch's thread has checked the replies, so that the
// fill that follows the release of the view cannot fail, and a failed fetch
// leaves the view as it was. Keeping a copy of the view beside the new read
// would more than double the memory a large site needs.
bool site_in_place()
{
    return site_count == 1 && sites[0].kind != SITE_STATUS;
}

void site_start()
{
    if (!site_states.empty())
        return;
    site_states.resize(static_cast<size_t>(site_count));
    for (int k = 0; k < site_count; k++)
        if (sites[k].kind != SITE_STATUS) {
            site_states[static_cast<size_t>(k)].job = std::make_shared<site_job>();
            site_states[static_cast<size_t>(k)].job->where = sites[k];
        }
    if (pipe2(site_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        fatal_screen("fatal error: pipe failed: %s\n", strerror(errno));
}

void site_fail(site_state &st, const std::string &why)
{
    if (!st.failing) {
        st.failing = true;
        st.failing_since = time(nullptr);
        site_bad_news = true;
    }
    st.reason = why;
}

// The tables hold a good read of the site: it becomes the site's snapshot
// (in place: the tables stay the view and keep their texts).
void site_take(site_state &st)
{
    site_snapshot &s = st.snap;
    const bool in_place = site_in_place();
    if (!in_place) {
        void *fresh = status_texts_take();
        status_texts_give(s.texts);
        s.texts = fresh;
    }
    const size_t nh = in_place ? 0 : static_cast<size_t>(host_list_size);
    const size_t ns = in_place ? 0 : static_cast<size_t>(service_list_size);
    s.hosts.assign(host_list, host_list + nh);
    s.host_levels.assign(host_idx_to_level, host_idx_to_level + nh);
    s.host_marks.assign(host_idx_to_marks, host_idx_to_marks + nh);
    s.host_offsets.assign(host_idx_to_offset, host_idx_to_offset + nh);
    s.host_hashes.assign(host_name_hashes, host_name_hashes + nh);
    s.services.assign(service_list, service_list + ns);
    s.service_levels.assign(service_idx_to_level, service_idx_to_level + ns);
    s.service_marks.assign(service_idx_to_marks, service_idx_to_marks + ns);
    s.service_offsets.assign(service_idx_to_offset, service_idx_to_offset + ns);
    s.service_hashes.assign(service_host_hashes, service_host_hashes + ns);
    s.kept.clear();
    if (alert_mode != 0) {
        s.kept.resize(ns);
        for (size_t i = 0; i < ns; i++)
            s.kept[i] = status_kept_description(static_cast<int>(i));
    }
    s.now = last_update_int;
    memcpy(s.last_update, last_update, sizeof s.last_update);
    s.notes_offset = status_notes_offset;
    s.up = num_up;
    s.down = num_down;
    s.okay = num_okay;
    s.warn = num_warn;
    s.crit = num_crit;
    st.read = true;
    st.failing = false;
    st.reason.clear();
}

// A failed read leaves texts in the arena: they go back for reuse.
void site_drop_read()
{
    status_texts_give(status_texts_take());
    host_list_size = service_list_size = 0;
}

void site_read_status(int k)
{
    site_state &st = site_states[static_cast<size_t>(k)];
    std::string why;
    if (!status_read_file(sites[k].path, why)) {
        if (!why.empty() && why[0] >= 'A' && why[0] <= 'Z' && (why.size() < 2 || why[1] > 'Z'))
            why[0] = static_cast<char>(why[0] - 'A' + 'a');  // as the other reasons read
        site_drop_read();
        site_fail(st, why);
        return;
    }
    site_take(st);
    const int fd = status_snapshot_fd();
    if (st.snap.fd >= 0)
        close(st.snap.fd);
    st.snap.fd = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
}

// A prefixed copy of text in the view's own texts: "NAME:text".
char *site_prefixed(const char *name, size_t name_len, const char *text)
{
    if (!text)
        return nullptr;
    const size_t len = strlen(text);
    std::string s;
    s.reserve(name_len + 1 + len);
    s.append(name, name_len);
    s += ':';
    s.append(text, len);
    return status_copy_text(s.data(), s.size());
}

// The view: every site's last good snapshot in site order, each name with
// its site's prefix when there are several sites.
void site_compose()
{
    if (site_in_place()) {
        // The tables are the view already.
        status_alert_check();
        if (site_bad_news)
            status_alert_site();
        site_bad_news = false;
        status_order_by_age();
        return;
    }
    status_release();
    status_read_begin(0, 0);
    const bool prefix = site_count > 1;
    int newest = 0;
    char newest_text[21] = "";
    for (int k = 0; k < site_count; k++) {
        const site_snapshot &s = site_states[static_cast<size_t>(k)].snap;
        if (!site_states[static_cast<size_t>(k)].read)
            continue;
        site_states[static_cast<size_t>(k)].snap.first_host = host_list_size;
        site_states[static_cast<size_t>(k)].snap.first_service = service_list_size;
        const size_t name_len = strlen(sites[k].name);
        for (size_t i = 0; i < s.hosts.size() && host_list_size < MAX_ITEMS; i++) {
            const int n = host_list_size++;
            item it = s.hosts[i];
            if (prefix)
                it.host_name = site_prefixed(sites[k].name, name_len, it.host_name);
            host_list[n] = it;
            host_idx_to_level[n] = s.host_levels[i];
            host_idx_to_marks[n] = s.host_marks[i];
            host_idx_to_offset[n] = s.host_offsets[i];
            host_name_hashes[n] = s.host_hashes[i];
            host_idx_to_site[n] = static_cast<unsigned char>(k);
            num_up += s.host_levels[i] == 0;
            num_down += s.host_levels[i] == 2;
        }
        for (size_t i = 0; i < s.services.size() && service_list_size < MAX_ITEMS; i++) {
            const int n = service_list_size++;
            item it = s.services[i];
            if (prefix) {
                it.host_name = site_prefixed(sites[k].name, name_len, it.host_name);
                it.service_description =
                    site_prefixed(sites[k].name, name_len, it.service_description);
            }
            service_list[n] = it;
            const int level = s.service_levels[i];
            service_idx_to_level[n] = level;
            service_idx_to_marks[n] = s.service_marks[i];
            service_idx_to_offset[n] = s.service_offsets[i];
            service_host_hashes[n] = s.service_hashes[i];
            service_idx_to_site[n] = static_cast<unsigned char>(k);
            status_set_kept_description(n, i < s.kept.size() ? s.kept[i] : nullptr);
            num_okay += level == 0;
            num_warn += level == 1;
            num_crit += level != 0 && level != 1;
        }
        if (s.now >= newest) {
            newest = s.now;
            memcpy(newest_text, s.last_update, sizeof newest_text);
        }
    }
    last_update_int = newest;
    memcpy(last_update, newest_text, sizeof newest_text);
    status_alert_check();
    if (site_bad_news)
        status_alert_site();
    site_bad_news = false;
    status_order_by_age();
}

// The deadline comes by value: the main thread clears job->deadline under
// site_lock once it has passed, maybe before this thread has even started.
// With check, the replies are checked here (site_in_place).
void site_fetch(std::shared_ptr<site_job> job, int64_t deadline, bool check)
{
    livestatus_fetched fetched;
    std::string why;
    bool ok = livestatus_fetch(job->fd, job->where, deadline, fetched, why);
    if (ok && check)
        ok = livestatus_check(fetched, why);
    {
        std::lock_guard<std::mutex> hold(site_lock);
        job->fetched = std::move(fetched);
        job->why = std::move(why);
        job->ok = ok;
        job->done = true;
        job->busy = false;
    }
    site_wake();
}

// Takes in what the jobs have brought; true when a site changed.
bool site_take_jobs(bool expire)
{
    bool changed = false;
    const int64_t now = livestatus_now_ms();
    for (int k = 0; k < site_count; k++) {
        site_state &st = site_states[static_cast<size_t>(k)];
        if (!st.job)
            continue;
        std::shared_ptr<site_job> job = st.job;
        livestatus_fetched fetched;
        bool done, ok = false, late = false;
        std::string why;
        {
            std::lock_guard<std::mutex> hold(site_lock);
            done = job->done;
            if (done) {
                job->done = false;
                fetched = std::move(job->fetched);
                job->fetched = livestatus_fetched{};
                why = job->why;
                ok = job->ok;
            } else if (expire && job->busy && job->deadline != 0 && now >= job->deadline) {
                // The thread keeps its own deadline too; it is not waited for.
                late = true;
                job->deadline = 0;
            }
        }
        if (late) {
            site_fail(st, "timed out");
            changed = true;
        }
        if (!done)
            continue;
        changed = true;
        if (!ok) {
            site_fail(st, why);
            continue;
        }
        if (site_in_place()) {
            status_release();
            st.read = false;  // until the fill has the tables
            st.snap.descriptions.clear();  // they were texts of the view
        }
        if (!livestatus_fill(fetched, why)) {
            site_drop_read();
            site_fail(st, why);
            continue;
        }
        site_take(st);
        st.snap.descriptions.swap(livestatus_descriptions);
    }
    return changed;
}

}  // namespace

void site_wake()
{
    const char c = 1;
    // Full means a wake-up is already waiting: nothing is lost.
    ssize_t n = write(site_pipe[1], &c, 1);
    (void)n;
}

void site_read(bool wait)
{
    if (site_count == 0) {
        read_status();
        return;
    }
    site_start();
    const int64_t deadline = livestatus_now_ms() + int64_t{site_timeout_secs} * 1000;
    for (int k = 0; k < site_count; k++) {
        site_state &st = site_states[static_cast<size_t>(k)];
        if (!st.job)
            continue;
        std::lock_guard<std::mutex> hold(site_lock);
        if (st.job->busy)
            continue;  // the last read is still under way
        st.job->busy = true;
        st.job->deadline = deadline;
        if (!livestatus_spawn([job = st.job, deadline, check = site_in_place()] {
                site_fetch(job, deadline, check);
            })) {
            st.job->busy = false;
            st.job->done = true;
            st.job->ok = false;
            st.job->why = "no thread for the read";
        }
    }
    // The view's own texts go first; the status files are read meanwhile.
    if (!site_in_place())
        status_release();
    bool any_status = false;
    for (int k = 0; k < site_count; k++)
        if (sites[k].kind == SITE_STATUS) {
            site_read_status(k);
            any_status = true;
        }
    if (wait) {
        // The first screen waits a little for the sites, no longer: the
        // rest come in as they answer.
        const int64_t wait_until = std::min(deadline, livestatus_now_ms() + SITE_START_WAIT_MS);
        for (;;) {
            bool pending = false;
            {
                std::lock_guard<std::mutex> hold(site_lock);
                for (const site_state &st : site_states)
                    pending |= st.job && st.job->busy;
            }
            if (!pending || livestatus_now_ms() >= wait_until)
                break;
            struct pollfd wake {site_pipe[0], POLLIN, 0};
            poll(&wake, 1, 10);
            char buf[64];
            while (read(site_pipe[0], buf, sizeof buf) > 0) {
            }
        }
    }
    site_take_jobs(wait);
    site_compose();
    if (wait)
        status_alert_take();  // never at start-up
    if (any_status) {
        progress_end();
        usleep(150000);
    }
}

int site_wake_fd()
{
    return site_count > 0 && !site_states.empty() ? site_pipe[0] : -1;
}

int64_t site_wait_ms()
{
    int64_t soonest = -1;
    const int64_t now = livestatus_now_ms();
    std::lock_guard<std::mutex> hold(site_lock);
    for (const site_state &st : site_states)
        if (st.job && st.job->busy && st.job->deadline != 0) {
            const int64_t left = std::max<int64_t>(st.job->deadline - now, 0);
            soonest = soonest < 0 ? left : std::min(soonest, left);
        }
    return soonest;
}

bool site_collect()
{
    if (site_count == 0 || site_states.empty())
        return false;
    char buf[64];
    while (read(site_pipe[0], buf, sizeof buf) > 0) {
    }
    const bool answered = site_record_take();
    // The view is composed anew only where a site changed; the composition
    // releases its texts first, so it is done in one step (in place, a good
    // read releases the view itself).
    bool any = false;
    {
        const int64_t now = livestatus_now_ms();
        std::lock_guard<std::mutex> hold(site_lock);
        for (const site_state &st : site_states)
            any |= st.job && (st.job->done || (st.job->busy && st.job->deadline != 0 &&
                                               now >= st.job->deadline));
    }
    if (!any)
        return answered;
    if (!site_in_place())
        status_release();
    site_take_jobs(true);
    site_compose();
    return true;
}

bool site_stale(int k)
{
    return k >= 0 && static_cast<size_t>(k) < site_states.size() &&
           site_states[static_cast<size_t>(k)].failing;
}

std::vector<std::string> site_failure_lines()
{
    std::vector<std::string> lines;
    for (int k = 0; k < site_count && static_cast<size_t>(k) < site_states.size(); k++) {
        const site_state &st = site_states[static_cast<size_t>(k)];
        if (!st.failing)
            continue;
        char when[16] = "";
        struct tm tm;
        if (localtime_r(&st.failing_since, &tm))
            strftime(when, sizeof when, "%H:%M:%S", &tm);
        std::string line = "site ";
        line += sites[k].name;
        line += ": no answer since ";
        line += when;
        line += " (";
        line += st.reason;
        line += ")";
        lines.push_back(std::move(line));
    }
    return lines;
}

int site_item_now(int mode, int idx)
{
    if (site_count == 0)
        return last_update_int;
    const int k = mode == 0 ? host_idx_to_site[idx] : service_idx_to_site[idx];
    return static_cast<size_t>(k) < site_states.size()
               ? site_states[static_cast<size_t>(k)].snap.now
               : last_update_int;
}

int site_of_item(int mode, int idx)
{
    if (site_count == 0)
        return -1;
    return mode == 0 ? host_idx_to_site[idx] : service_idx_to_site[idx];
}

int site_snapshot_fd(int k)
{
    if (k < 0)
        return status_snapshot_fd();
    return static_cast<size_t>(k) < site_states.size() ? site_states[static_cast<size_t>(k)].snap.fd
                                                       : -1;
}

int64_t site_notes_offset(int k)
{
    if (k < 0)
        return status_notes_offset;
    return static_cast<size_t>(k) < site_states.size()
               ? site_states[static_cast<size_t>(k)].snap.notes_offset
               : 0;
}

const char *site_raw_name(int k, const char *text)
{
    if (!text || k < 0 || site_count < 2)
        return text;
    const size_t n = strlen(sites[k].name);
    return strncmp(text, sites[k].name, n) == 0 && text[n] == ':' ? text + n + 1 : text;
}

bool site_source_names(int mode, int idx, std::string &host, std::string &service)
{
    const int k = site_of_item(mode, idx);
    if (k < 0 || static_cast<size_t>(k) >= site_states.size())
        return false;
    const site_snapshot &s = site_states[static_cast<size_t>(k)].snap;
    const size_t i = static_cast<size_t>(idx - (mode == 0 ? s.first_host : s.first_service));
    const bool in_place = site_in_place();
    const size_t items = in_place ? static_cast<size_t>(mode == 0 ? host_list_size
                                                                  : service_list_size)
                                  : (mode == 0 ? s.hosts : s.services).size();
    if (i >= items)
        return false;
    const item &it = in_place ? (mode == 0 ? host_list : service_list)[i]
                              : (mode == 0 ? s.hosts : s.services)[i];
    if (!it.host_name)
        return false;
    if (mode == 0) {
        host = it.host_name;
        service.clear();
        return true;
    }
    if (i >= s.descriptions.size() || !s.descriptions[i])
        return false;
    host = it.host_name;
    service = s.descriptions[i];
    return true;
}

bool site_newer_file()
{
    for (int k = 0; k < site_count && static_cast<size_t>(k) < site_states.size(); k++) {
        const int fd = site_states[static_cast<size_t>(k)].snap.fd;
        struct stat now_file, snapshot;
        if (sites[k].kind != SITE_STATUS || fd < 0 || stat(sites[k].path, &now_file) != 0 ||
            fstat(fd, &snapshot) != 0)
            continue;
        if (now_file.st_ino != snapshot.st_ino || now_file.st_dev != snapshot.st_dev ||
            now_file.st_mtim.tv_sec != snapshot.st_mtim.tv_sec ||
            now_file.st_mtim.tv_nsec != snapshot.st_mtim.tv_nsec)
            return true;
    }
    return false;
}
