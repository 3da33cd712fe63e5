// SPDX-License-Identifier: GPL-2.0-or-later
// Commands to the daemon: the one line of each action, and its one write to
// the daemon's command pipe.
#ifndef COMMAND_COMMAND_H
#define COMMAND_COMMAND_H

#include <string>

#include "quelvan.h"

// The actions an operator can take on one host or service.
constexpr int ACTION_ACK = 0;         // acknowledge the problem (ack_sticky, ack_notify)
constexpr int ACTION_UNACK = 1;       // remove the acknowledgement
constexpr int ACTION_DOWNTIME = 2;    // fixed downtime from now to end
constexpr int ACTION_CHECK = 3;       // a forced check now
constexpr int ACTION_NOTIFY_OFF = 4;  // disable notifications
constexpr int ACTION_NOTIFY_ON = 5;   // enable notifications

// Builds the command line (with its newline) of action for host (service
// null: the host itself); comment for ACTION_ACK and ACTION_DOWNTIME, end for
// ACTION_DOWNTIME (start = now), now the clock's time. Control characters of
// the comment become blanks, and a downtime comment loses its ';'. False
// with why (a message for the command row) when it cannot be sent safely.
bool command_build(int action, const char *host, const char *service, const char *author,
                   const char *comment, long long now, long long end, std::string &line,
                   std::string &why);
// Sends line to the FIFO at path in one write; "" on success, otherwise the
// message for the command row. Nothing is written or created on a refusal,
// and the call never waits for the daemon.
std::string command_send(const char *path, const std::string &line);
// The login name of the real user, from the password database ("" if none).
std::string command_author();
// The longest a Livestatus site is waited for to take a command.
constexpr int COMMAND_WAIT_SECONDS = 5;
// An action of the operator at the clock's time: built with command_author()
// and sent to where (null: command_file without site statements: a status
// site's command file, or a Livestatus site's socket); seconds is the length
// of a downtime. "" when it was sent, otherwise the message for the command row.
std::string command_run(const site *where, int action, const char *host, const char *service,
                        const char *comment, long long seconds);

#endif
