// SPDX-License-Identifier: GPL-2.0-or-later
// The detail screen's record of a Livestatus site's object, asked for in
// the background: a slow site holds up neither the keyboard nor the redraw,
// and the record shown is the site's last answer until a newer one comes.
// One ask is under way at a time; the object wished for meanwhile is asked
// for next.
#include <memory>
#include <mutex>
#include <string>

#include "livestatus/livestatus.h"
#include "quelvan.h"
#include "site/site.h"
#include "site/site_private.h"
#include "status/status.h"

namespace {

struct record_key {
    int k = -1;
    bool host = true;
    std::string name, description;  // as the site names the object
    unsigned generation = 0;        // of the view it was asked for
    bool same_object(const record_key &o) const
    {
        return k == o.k && host == o.host && name == o.name && description == o.description;
    }
};

// An ask under way: the thread alone fills it until done.
struct record_job {
    record_key key;
    site where;
    std::string stanza, notes, why;
    bool done = false;
};

// Never destroyed: a thread past its time may still take it at exit.
std::mutex &record_lock = *new std::mutex;
std::shared_ptr<record_job> record_asking;  // under way, or come and not yet taken in
record_key record_wish;
bool record_wished = false;
// The last answer taken in.
struct {
    bool have = false;
    record_key key;
    std::string stanza, notes, why;
} record_last;
unsigned record_serial = 0;

void record_run(std::shared_ptr<record_job> job, int64_t deadline)
{
    const char *description = job->key.host ? nullptr : job->key.description.c_str();
    std::string why, ignored;
    std::string stanza =
        livestatus_stanza(job->where, job->key.name.c_str(), description, deadline, why);
    std::string notes;
    // Without the object there is nothing to note, and the site has had its time.
    if (!stanza.empty())
        notes = livestatus_notes(job->where, job->key.name.c_str(), description, deadline,
                                 ignored);
    else if (why.empty())
        why = "the site has no such object";
    {
        std::lock_guard<std::mutex> hold(record_lock);
        job->stanza = std::move(stanza);
        job->notes = std::move(notes);
        job->why = std::move(why);
        job->done = true;
    }
    site_wake();
}

void record_start()
{
    if (record_asking || !record_wished)
        return;
    record_wished = false;
    auto job = std::make_shared<record_job>();
    job->key = record_wish;
    job->where = sites[record_wish.k];
    record_asking = job;
    const int64_t deadline = livestatus_now_ms() + int64_t{site_timeout_secs} * 1000;
    if (!livestatus_spawn([job, deadline] { record_run(job, deadline); })) {
        job->why = "no thread for the ask";
        job->done = true;
        site_wake();
    }
}

}  // namespace

site_record_state site_record(int mode, int idx, std::string &stanza, std::string &notes,
                              std::string &why)
{
    stanza.clear();
    notes.clear();
    why.clear();
    const int k = site_of_item(mode, idx);
    record_key key;
    if (k < 0 || sites[k].kind == SITE_STATUS || site_stale(k) ||
        !site_source_names(mode, idx, key.name, key.description))
        return SITE_RECORD_NONE;
    key.k = k;
    key.host = mode == 0;
    key.generation = status_generation;
    const bool known = record_last.have && record_last.key.same_object(key);
    const bool asked = record_asking && record_asking->key.same_object(key) &&
                       record_asking->key.generation == key.generation;
    if (!asked && (!known || record_last.key.generation != key.generation)) {
        record_wish = key;
        record_wished = true;
        record_start();
    }
    if (!known)
        return SITE_RECORD_ASKING;
    stanza = record_last.stanza;
    notes = record_last.notes;
    why = record_last.why;
    return stanza.empty() ? SITE_RECORD_FAILED : SITE_RECORD_GIVEN;
}

unsigned site_record_serial()
{
    return record_serial;
}

bool site_record_take()
{
    if (!record_asking)
        return false;
    {
        std::lock_guard<std::mutex> hold(record_lock);
        if (!record_asking->done)
            return false;
    }
    const std::shared_ptr<record_job> job = std::move(record_asking);
    record_asking.reset();
    record_last.have = true;
    record_last.key = job->key;
    record_last.stanza = std::move(job->stanza);
    record_last.notes = std::move(job->notes);
    record_last.why = std::move(job->why);
    record_serial++;
    record_start();
    return true;
}
