// SPDX-License-Identifier: GPL-2.0-or-later
// The system's files; the build decides where they are.
#include "quelvan.h"

const char *const status_file_path = QUELVAN_STATUS_FILE;
const char *const system_rc_path = QUELVAN_CONFIG_DIR "/quelvanrc";
const char *const hook_script_path = QUELVAN_CONFIG_DIR "/quelvan.pl";
const char *const help_file_path = QUELVAN_CONFIG_DIR "/quelvan.help";
