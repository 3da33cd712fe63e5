// SPDX-License-Identifier: GPL-2.0-or-later
// What the readers' fuzz targets share: the console's set-up for a read
// (hooks included), and what every read must leave in the tables, however
// bad its input: a target aborts where it does not.
#ifndef FUZZ_FUZZ_READER_H
#define FUZZ_FUZZ_READER_H

#include <cstddef>

// TZ=UTC, a hook script in etc/ that changes every text, the fatal
// messages to /dev/null, the interpreter started: once per target.
void fuzz_reader_setup();
// Whether text is there and ends within max characters.
bool fuzz_reader_text_ok(const char *text, size_t max);
// Sizes and counts within MAX_ITEMS, every entry below a table's size
// whole, its texts ending within their buffers, levels and marks in range.
void fuzz_reader_check();
// The age lists: each item once, newest first.
void fuzz_reader_check_order();

#endif
