// SPDX-License-Identifier: GPL-2.0-or-later
// The object tables of the last read, and the arena of their texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

item host_list[MAX_ITEMS];
item service_list[MAX_ITEMS];
int host_list_size = 0;
int service_list_size = 0;
int host_idx_to_level[MAX_ITEMS];
int service_idx_to_level[MAX_ITEMS];
unsigned char host_idx_to_marks[MAX_ITEMS];
unsigned char service_idx_to_marks[MAX_ITEMS];
int64_t host_idx_to_offset[MAX_ITEMS];
int64_t service_idx_to_offset[MAX_ITEMS];
int num_up = 0, num_down = 0;
int num_okay = 0, num_warn = 0, num_crit = 0;
char last_update[21];
int last_update_int = 0;
age_node *hosts_by_age = nullptr;
age_node *services_by_age = nullptr;

int convert_level(const char *text)
{
    if (!text)
        return 1;
    if (strcmp(text, "UP") == 0 || strcmp(text, "OKAY") == 0)
        return 0;
    if (strcmp(text, "DOWN") == 0 || strcmp(text, "CRITICAL") == 0)
        return 2;
    return 1;
}

// --- the arena of item texts ---
// Chunks of a released snapshot are kept for the next read, so that a
// refresh does not hand its memory back and fault it in again; chunks that
// a read did not need are freed at the next release.
namespace {

// A chunk is one huge page: the first read of a large file then faults its
// texts in 2 MB at a time instead of 4 KB.
constexpr size_t TABLES_PAGE = 2 << 20;
constexpr size_t TABLES_BIG = TABLES_PAGE / 8;  // a text this long gets its own chunk

struct tables_chunk {
    tables_chunk *next;
    size_t used;
    size_t size;
    char data[];
};

tables_chunk *tables_chunks = nullptr;  // in use, newest first
tables_chunk *tables_spare = nullptr;   // free for the read under way

constexpr size_t TABLES_CHUNK = TABLES_PAGE - sizeof(tables_chunk);  // room in a chunk

tables_chunk *tables_new_chunk(size_t size)
{
    tables_chunk *c;
    if (size == TABLES_CHUNK && tables_spare) {
        c = tables_spare;
        tables_spare = c->next;
    } else {
        if (size == TABLES_CHUNK) {
            c = static_cast<tables_chunk *>(aligned_alloc(TABLES_PAGE, TABLES_PAGE));
            if (c)
                status_prefer_huge(c, TABLES_PAGE);
        } else {
            c = static_cast<tables_chunk *>(malloc(sizeof(tables_chunk) + size));
        }
        if (!c)
            fatal_screen("fatal error: out of memory\n");
        c->size = size;
    }
    c->used = 0;
    return c;
}

void tables_free_list(tables_chunk *c)
{
    while (c) {
        tables_chunk *next = c->next;
        free(c);
        c = next;
    }
}

}  // namespace

void status_prefer_huge(void *p, size_t len)
{
    uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + TABLES_PAGE - 1) & ~(TABLES_PAGE - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(p) + len) & ~(TABLES_PAGE - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);  // a hint only
}

char *status_text(size_t size)
{
    tables_chunk *c = tables_chunks;
    if (!c || c->size - c->used < size) {
        if (size > TABLES_BIG) {
            // Behind the current chunk, so the room left in it is not lost.
            c = tables_new_chunk(size);
            if (tables_chunks) {
                c->next = tables_chunks->next;
                tables_chunks->next = c;
            } else {
                c->next = nullptr;
                tables_chunks = c;
            }
        } else {
            c = tables_new_chunk(TABLES_CHUNK);
            c->next = tables_chunks;
            tables_chunks = c;
        }
    }
    char *p = c->data + c->used;
    c->used += size;
    return p;
}

char *status_copy(const char *text, size_t len)
{
    char *p = status_text(len + 1);
    memcpy(p, text, len);
    p[len] = '\0';
    return p;
}

void status_texts_release()
{
    tables_free_list(tables_spare);
    tables_spare = nullptr;
    while (tables_chunks) {
        tables_chunk *c = tables_chunks;
        tables_chunks = c->next;
        if (c->size == TABLES_CHUNK) {
            c->next = tables_spare;
            tables_spare = c;
        } else {
            free(c);
        }
    }
}

void *status_texts_take()
{
    tables_chunk *c = tables_chunks;
    tables_chunks = nullptr;
    return c;
}

void status_texts_give(void *texts)
{
    // Free for the read under way, as the chunks of a release are.
    tables_chunk *c = static_cast<tables_chunk *>(texts);
    while (c) {
        tables_chunk *next = c->next;
        if (c->size == TABLES_CHUNK) {
            c->next = tables_spare;
            tables_spare = c;
        } else {
            free(c);
        }
        c = next;
    }
}
