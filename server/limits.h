// Limits of the messenger server. Command numbers, presence and relation states and the sizes of
// the client's tables are the protocol's (protocol/commands.h), shared with the client.
#pragma once
#include <cstdint>

#include "protocol/commands.h"

namespace srv {

// The highest presence state a client may set (presence_state runs from PS_OFFLINE to it).
constexpr int kPresenceMax = PS_APPEAR_OFFLINE;

// Limits that mirror the client's fields (its tables' sizes are the protocol's kMaxContacts and
// kMaxGroups).
constexpr int kGroupNameMax = 31;
constexpr int kEmailMax = 126;         // the sign-in dialog cuts the e-mail to this
constexpr int kLoginPasswordMax = 31;  // the sign-in dialog cuts the password to this
constexpr int kRegisterRecordLen = 512;
constexpr int kOfflineChunk = 2047;     // client's chunk buffer for 346
constexpr int kOfflineMaxText = 32768;  // one stored offline message (header, text and marker)
constexpr int kNoticeMax = 1023;        // client's pop-up text buffer
constexpr int kAddressMax = 49;         // client's local address text
// A connection's write queue: a main connection that falls this far behind is dropped; the relay
// stops reading the senders of a receiver this far behind instead.
// Both count the memory the queued buffers hold, not only their bytes. A connection without a
// signed-in user has the smaller cap: it can only have asked for short answers.
constexpr int kMaxWriteQueueBytes = 4 * 1024 * 1024;
constexpr int kMaxWriteQueueBytesBeforeSignIn = 256 * 1024;
// What a connection may queue while its password is checked; more closes it.
constexpr int kMaxQueuedBeforeSignIn = 64;
constexpr int kMaxQueuedBytesBeforeSignIn = 64 * 1024;
// Password checks that may run at once for one source address (more wait their turn) and for
// one account (more are refused), so that a flood of guesses cannot keep the hashing threads
// from real users.
constexpr int kMaxChecksPerAddress = 1;  // less than the hashing threads (2 by default)
constexpr int kMaxChecksPerAccount = 4;
// Offline messages kept for one recipient: more are refused until some are read.
constexpr int kOfflineQuotaMessages = 1000;
constexpr int64_t kOfflineQuotaBytes = 10 * 1024 * 1024;
// Within that, what one sender may leave, and what all senders the recipient has not added
// share between them, so that no stranger can fill a mailbox before its owner's contacts.
constexpr int kOfflineSenderMessages = 100;
constexpr int64_t kOfflineSenderBytes = 1024 * 1024;
constexpr int kOfflineStrangerMessages = 200;
constexpr int64_t kOfflineStrangerBytes = 2 * 1024 * 1024;
constexpr int kDatagramMax = 1024;                    // clients cut a datagram to this
constexpr int kDefaultIdleSeconds = 90;  // main connections send a keep-alive every 5 s
constexpr int kRelayPorts[3] = {80, 443, 8199};  // default ports of a client's relay server
constexpr int kRelayProbeMs = 3000;              // connect attempt that confirms a relay port
constexpr int kMaxBoardPort = 9999;  // a port travels in the 4-digit board_num of the header
constexpr int kSlaveAddressMax = 127;            // client's slave-server address field
constexpr int kRouteTextMax = 1000;              // client's text limit towards a home server
// Built-in relay (its outer header and payload cap are peer/slave_header.h's): what a bad header
// takes with it, and the idle limit (clients register every 10 s).
constexpr int kRelayBadHeaderDrop = 2048;
constexpr int kRelayIdleSeconds = 70;
// A receiver that holds a sender back and takes nothing for this long is closed: the sender's
// messages to everyone else wait behind it (two missed client keep-alives).
constexpr int kRelayHoldSeconds = 20;
constexpr int kRelayMaxConnections = 1000;  // main connections send a keep-alive every 5 s

}  // namespace srv
