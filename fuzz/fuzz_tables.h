// SPDX-License-Identifier: GPL-2.0-or-later
// What every read must leave in the tables, however bad its input: a fuzz
// target aborts where it does not.
#ifndef FUZZ_FUZZ_TABLES_H
#define FUZZ_FUZZ_TABLES_H

#include <cstddef>

// Whether text is there and ends within max characters.
bool fuzz_tables_text_ok(const char *text, size_t max);
// Sizes and counts within MAX_ITEMS, every entry below a table's size
// whole, its texts ending within their buffers, levels and marks in range.
void fuzz_tables_check();
// The age lists: each item once, newest first.
void fuzz_tables_check_order();

#endif
