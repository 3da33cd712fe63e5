// SPDX-License-Identifier: GPL-2.0-or-later
// In-process helpers of the status snapshot tests: a working directory with
// a status file, the interpreter started once per process, and the
// snapshot's texts gathered for comparison.
#ifndef TESTS_STATUS_SUPPORT_H
#define TESTS_STATUS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "harness.h"
#include "perl/perl_hook.h"
#include "quelvan.h"
#include "status/status.h"
#include "status/status_private.h"

// Makes a fresh test directory the working directory (the status file is
// looked up relative to it) and starts the interpreter with the
// pass-through hook on the first call of the process.
inline std::string status_enter()
{
    static bool started = false;
    const std::string dir = test_dir();
    write_defaults(dir);
    if (chdir(dir.c_str()) != 0)
        ADD_FAILURE() << "chdir " << dir;
    setenv("TZ", "UTC", 1);
    tzset();
    debugging = 0;
    color = 0;
    if (!started) {
        perl_hook_init();
        started = true;
    }
    // Whatever an earlier test of the process left is released first.
    write_file(status_path(dir), "info {\n\tcreated=0\n");
    status_refresh();
    return dir;
}

// Writes the status file in the working directory.
inline void status_write(const std::string &content) { write_file(status_path("."), content); }

inline std::string status_str(const char *s) { return s ? s : "(null)"; }

// The first 16 characters of ctime() of t.
inline std::string status_ctime16(long t)
{
    time_t tt = t;
    return std::string(ctime(&tt)).substr(0, 16);
}

// Runs statement in a child that must end the process with status 1 after
// writing exactly out_text on standard output.
#define STATUS_EXPECT_FATAL(statement, out_text) expect_fatal([&] { statement; }, out_text)

#endif
