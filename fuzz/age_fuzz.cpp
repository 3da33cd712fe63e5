// SPDX-License-Identifier: GPL-2.0-or-later
// Age texts of any bytes: the normal form stays in its buffer and terminated.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "perl/perl_hook.h"
#include "quelvan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the rewrite limit, the rest is the text.
    int limit = data[0] % 16 == 0 ? TEXT_SIZE : data[0] % 16;
    char text[TEXT_SIZE];
    size_t n = std::min(size - 1, size_t{TEXT_SIZE - 1});
    memcpy(text, data + 1, n);
    text[n] = '\0';
    char before[TEXT_SIZE];
    memcpy(before, text, sizeof text);
    int secs = parse_age_filter(text, limit);
    if (strnlen(text, TEXT_SIZE) >= TEXT_SIZE)
        abort();
    if (secs != 0 && strlen(text) >= static_cast<size_t>(limit))
        abort();
    // A text rewritten without giving an age can only be a zero in normal form.
    if (secs == 0 && strcmp(text, before) != 0) {
        bool zero = false;
        for (const char *form : {"0d", "0hr", "0m", "0s"})
            zero = zero || strncmp(text, form, strlen(text)) == 0;
        if (!zero)
            abort();
    }
    return 0;
}
