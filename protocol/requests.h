// The requests the client sends to its servers: on the main connection (replies arrive through
// the receive loop) and on one-shot connections to the contacts' home servers.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/commands.h"

// Main connection.
int request_groups();                        // 160
int request_contacts();                      // 170
int send_local_address();                    // 180 with the main connection's local address
struct registration_fields {
    const char* email;
    const char* password;
    const char* first_name;
    const char* last_name;
    const char* nick_name;
    const char* phone;
    const char* country;
};
// The fixed 512-byte record of request 250: each text zero-padded in its slot, ':' after each.
void build_registration_record(const registration_fields& f, char out[kRegistrationRecordBytes]);
int send_registration(const registration_fields& f);  // 250, connecting first when needed
int request_contact_search(const char* email);        // 260
int request_add_contact(int contact_id, int group_id);  // 280
int answer_added_me(int contact_id, bool accept);       // 284 / 285
int request_remove_contact(int contact_id);             // 290
int answer_removed_me(int contact_id, bool accept);     // 293 / 294
int request_move_contact(int contact_id, int group_id);  // 300
int request_add_group(const char* name);                // 310
int request_rename_group(int group_id, const char* name);  // 313
int request_remove_group(int group_id);                 // 316
int request_offline_check();                            // 340
int request_offline_read();                             // 343
int send_offline_done(int sender_id);                   // 348
int request_status(int state);                          // 360
int send_keep_alive();                                  // 1000

// Relay-server announcements 420-422 and their acknowledgements 430-432 (slot 0-2).
void set_relay_acked(int slot);
bool relay_acked(int slot);
void reset_relay_acks();

// Speed test: 440, 441 x3, 442 with 1000 zero bytes each; 445 ends it and 450 reports.
void reset_speed_test();
bool speed_test_due(uint32_t now, uint32_t tick_count);
int start_speed_test(uint32_t now);
int do_speed_test_reply_end_from_server();
bool speed_test_started();

// Online-query and status passes: one worker thread per distinct home server.
int start_retrieving_pass();
// state and local_address are taken by the caller on its own thread.
int start_sending_status_pass(int state, const char* local_address);
int one_retrieving_thread(int index);
int one_sending_status_thread(int index, int state, const char* local_address);
// Replies on the online-query connection.
int query_online_reply_from_server(const char* body, int len, int board_num);
int query_online_reply_ip_from_server(const char* body, int len);

// How long a one-shot connection waits for a reply (tests shorten it).
void set_home_server_reply_timeout(int ms);
int home_server_reply_timeout();
