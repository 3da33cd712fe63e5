// SPDX-License-Identifier: GPL-2.0-or-later
// Pieces of the detail screen shared by its own files (and its tests).
#ifndef DETAIL_DETAIL_PRIVATE_H
#define DETAIL_DETAIL_PRIVATE_H

#include <string>
#include <vector>

// One row of the record: a text ready for the screen (every character
// printable, at most the width it was made for) and its colour pair.
struct detail_row {
    std::string text;
    int pair;
};
// The record of item idx of the hosts (mode 0) or services, as rows of at
// most width columns.
std::vector<detail_row> detail_record(int mode, int idx, long long width);

// The host name and service description of item idx as its stanza gives
// them (service empty for a host) and whether its notifications are on;
// false when the stanza does not name it.
bool detail_facts(int mode, int idx, std::string &host, std::string &service,
                  bool &notifications);

#endif
