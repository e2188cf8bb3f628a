// Offline messages: leaving a message on a contact's home server, and the text formats of both
// directions. Receiving (340/341/343/345-348) runs through the receive loop and the session
// controller.
#pragma once
#include <string>

#include "protocol/texts.h"

// Date and time as written into the header; year 0 and hour -1 when the local time is unknown.
struct offline_stamp {
    int year, month, day, hour, minute, second;
};
offline_stamp current_offline_stamp();
// "Message by %s %s(%s):\r\n%d-%02d-%02d %02d:%02d:%02d\r\n"
std::string build_offline_header(const char* name1, const char* name2, const char* name3,
                                 const offline_stamp& when);

// Results of send_offline_message besides 0 (sent; stored, when a receipt was asked for).
enum offline_send_result {
    OFFLINE_NOT_REACHED = -1,    // the home server could not be reached
    OFFLINE_REFUSED = -2,        // the home server refused to store it (1104)
    OFFLINE_NOT_CONFIRMED = -3,  // no receipt within kOfflineReceiptMs, or the connection broke
};
// How long a sender waits for the home server's receipt.
constexpr int kOfflineReceiptMs = 10000;
// Sends one message over a connection of its own to the home server of g_contact[index]:
// 330, 331 header, 331 pieces of at most 1000 bytes, 331 end marker, 332. When that server is the
// messenger server and announced receipts, 1102 goes first and the answer (1103 stored, 1104
// refused) is awaited. Returns 0 or an offline_send_result.
int send_offline_message(int index, const char* header, const char* text);

// The checks of the offline-message editor's "Send": the text to show when the message cannot be
// sent (too long, no contact, unknown contact), or an empty text.
user_text check_offline_message(int contact_id, const std::string& text);
// The checks, then the header and send_offline_message. May wait on a socket. Returns 0 when
// sent, else -1 with the reason in *error (the checks' texts, 190 when the contact's home server
// could not be reached, or the refusal or missing receipt).
int send_offline_to_contact(int contact_id, const std::string& text, user_text* error);

// The sender label of a received message: "%s %s(%s)" from the contact table, else "Unknown".
std::string offline_sender_label(int sender_id);
