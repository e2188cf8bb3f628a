// Every command number of the messenger protocol (client to server, server to client, peer to
// peer), the main window's notification numbers and the fixed sizes and periods of the session, in
// one place. Each table row is X(enumerator, number, name); the enums, the name lookups and the
// headless client's event names are all made from these rows.
#pragma once
#include <cstdint>

// Client to server (main connection unless noted).
#define PARLO_CLIENT_COMMANDS(X)                                               \
    X(CMD_LOGIN, 130, "login")                                                 \
    X(CMD_SIGN_OUT, 133, "sign_out")                                           \
    X(CMD_GET_GROUPS, 160, "get_groups")                                       \
    X(CMD_GET_CONTACTS, 170, "get_contacts")                                   \
    X(CMD_LOCAL_ADDRESS, 180, "local_address")                                 \
    X(CMD_QUERY_ONLINE, 185, "query_online") /* home server */                 \
    X(CMD_REGISTER, 250, "register")                                           \
    X(CMD_SEARCH_CONTACT, 260, "search_contact")                               \
    X(CMD_ADD_CONTACT, 280, "add_contact")                                     \
    X(CMD_ACCEPT_ADDED, 284, "accept_added")                                   \
    X(CMD_DECLINE_ADDED, 285, "decline_added")                                 \
    X(CMD_REMOVE_CONTACT, 290, "remove_contact")                               \
    X(CMD_ACCEPT_REMOVED, 293, "accept_removed")                               \
    X(CMD_KEEP_REMOVED, 294, "keep_removed")                                   \
    X(CMD_MOVE_CONTACT, 300, "move_contact")                                   \
    X(CMD_ADD_GROUP, 310, "add_group")                                         \
    X(CMD_RENAME_GROUP, 313, "rename_group")                                   \
    X(CMD_REMOVE_GROUP, 316, "remove_group")                                   \
    X(CMD_OFFLINE_BEGIN, 330, "offline_begin") /* home server */               \
    X(CMD_OFFLINE_TEXT, 331, "offline_text") /* home server */                 \
    X(CMD_OFFLINE_END, 332, "offline_end") /* home server */                   \
    X(CMD_OFFLINE_CHECK, 340, "offline_check")                                 \
    X(CMD_OFFLINE_READ, 343, "offline_read")                                   \
    X(CMD_OFFLINE_DONE, 348, "offline_done")                                   \
    X(CMD_SET_STATUS, 360, "set_status")                                       \
    X(CMD_PEER_ADDRESS_REQUEST, 380, "peer_address_request") /* home server */ \
    X(CMD_STATUS_TO_HOME, 400, "status_to_home") /* home server */             \
    X(CMD_RELAY_PORT_80, 420, "relay_port_80")                                 \
    X(CMD_RELAY_PORT_443, 421, "relay_port_443")                               \
    X(CMD_RELAY_PORT_8199, 422, "relay_port_8199")                             \
    X(CMD_SPEED_START, 440, "speed_start")                                     \
    X(CMD_SPEED_DATA, 441, "speed_data")                                       \
    X(CMD_SPEED_END, 442, "speed_end")                                         \
    X(CMD_SPEED_RESULT, 450, "speed_result")                                   \
    X(CMD_RELAY_TRAFFIC, 451, "relay_traffic")                                 \
    X(CMD_RELAY_CONNECTIONS, 452, "relay_connections")                         \
    X(CMD_SLAVE_SERVER_REQUEST, 460, "slave_server_request")                   \
    X(CMD_SLAVE_ADDR_REQUEST, 480, "slave_addr_request") /* home server */     \
    X(CMD_PEER_SLAVE1, 481, "peer_slave1") /* home server */                   \
    X(CMD_PEER_SLAVE2, 482, "peer_slave2") /* home server */                   \
    X(CMD_KEEP_ALIVE, 1000, "keep_alive")                                     \
    X(CMD_EXTENSIONS, 1100, "extensions") /* our extensions, after sign-in */  \
    X(CMD_OFFLINE_RECEIPT, 1102, "offline_receipt") /* home server */

enum client_command : int {
#define PARLO_ENUM_ROW(name, number, text) name = number,
    PARLO_CLIENT_COMMANDS(PARLO_ENUM_ROW)
#undef PARLO_ENUM_ROW
};

// Server to client.
#define PARLO_SERVER_COMMANDS(X)                                           \
    X(SRV_LOGIN_OK, 131, "login_ok")                                       \
    X(SRV_LOGIN_FAILED, 132, "login_failed")                               \
    X(SRV_LOGIN_CLOSED, 134, "login_closed")                               \
    X(SRV_ACCEPTED, 141, "accepted")                                       \
    X(SRV_SESSION_KEY_FAILED, 142, "session_key_failed")                   \
    X(SRV_SESSION_ID, 150, "session_id")                                   \
    X(SRV_USER_ID, 151, "user_id")                                         \
    X(SRV_ONLINE_INDEX, 152, "online_index")                               \
    X(SRV_NAME1, 153, "name1")                                             \
    X(SRV_NAME2, 154, "name2")                                             \
    X(SRV_NAME3, 155, "name3")                                             \
    X(SRV_GROUPS_BEGIN, 161, "groups_begin")                               \
    X(SRV_GROUP, 162, "group")                                             \
    X(SRV_GROUPS_END, 163, "groups_end")                                   \
    X(SRV_CONTACTS_BEGIN, 171, "contacts_begin")                           \
    X(SRV_CONTACT, 172, "contact")                                         \
    X(SRV_CONTACTS_END, 173, "contacts_end")                               \
    X(SRV_CONTACT_HOME_SERVER, 174, "contact_home_server")                 \
    X(SRV_CONTACT_EXTRA, 175, "contact_extra")                             \
    X(SRV_CONTACT_FIRST_NAME, 176, "contact_first_name")                   \
    X(SRV_CONTACT_LAST_NAME, 177, "contact_last_name")                     \
    X(SRV_CONTACT_EMAIL, 178, "contact_email")                             \
    X(SRV_CONTACT_RELATION, 179, "contact_relation")                       \
    X(SRV_ONLINE_STATE, 186, "online_state") /* online-query connection */ \
    X(SRV_ONLINE_ADDRESS, 187, "online_address")                           \
    X(SRV_ONLINE_DONE, 188, "online_done")                                 \
    X(SRV_REGISTER_OK, 251, "register_ok")                                 \
    X(SRV_REGISTER_ERROR, 252, "register_error")                           \
    X(SRV_REGISTER_EMAIL_EXISTS, 253, "register_email_exists")             \
    X(SRV_FOUND_ID, 261, "found_id")                                       \
    X(SRV_FOUND_FIRST_NAME, 262, "found_first_name")                       \
    X(SRV_FOUND_LAST_NAME, 263, "found_last_name")                         \
    X(SRV_FOUND_NICK_NAME, 264, "found_nick_name")                         \
    X(SRV_FOUND_EMAIL, 265, "found_email")                                 \
    X(SRV_SEARCH_FAILED, 266, "search_failed")                             \
    X(SRV_SEARCH_NOT_FOUND, 267, "search_not_found")                       \
    X(SRV_ADD_OK, 281, "add_ok")                                           \
    X(SRV_ADD_FAILED, 282, "add_failed")                                   \
    X(SRV_ADD_EXISTS, 283, "add_exists")                                   \
    X(SRV_ADD_CONFIRM_OK, 286, "add_confirm_ok")                           \
    X(SRV_ADD_CONFIRM_NO, 287, "add_confirm_no")                           \
    X(SRV_REMOVE_OK, 291, "remove_ok")                                     \
    X(SRV_REMOVE_FAILED, 292, "remove_failed")                             \
    X(SRV_REMOVE_CONFIRM_OK, 295, "remove_confirm_ok")                     \
    X(SRV_REMOVE_CONFIRM_NO, 296, "remove_confirm_no")                     \
    X(SRV_GROUP_ADD_OK, 311, "group_add_ok")                               \
    X(SRV_GROUP_ADD_FAILED, 312, "group_add_failed")                       \
    X(SRV_GROUP_RENAME_OK, 314, "group_rename_ok")                         \
    X(SRV_GROUP_RENAME_FAILED, 315, "group_rename_failed")                 \
    X(SRV_GROUP_REMOVE_OK, 317, "group_remove_ok")                         \
    X(SRV_GROUP_REMOVE_FAILED, 318, "group_remove_failed")                 \
    X(SRV_OFFLINE_WAITING, 341, "offline_waiting")                         \
    X(SRV_OFFLINE_BEGIN, 345, "offline_begin")                             \
    X(SRV_OFFLINE_TEXT, 346, "offline_text")                               \
    X(SRV_OFFLINE_END, 347, "offline_end")                                 \
    X(SRV_STATUS_SET, 361, "status_set")                                   \
    X(SRV_PEER_ADDRESS, 381, "peer_address")                               \
    X(SRV_LOGGED_IN_ELSEWHERE, 390, "logged_in_elsewhere")                 \
    X(SRV_PEER_STATUS, 401, "peer_status")                                 \
    X(SRV_RELAY_ACK_80, 430, "relay_ack_80")                               \
    X(SRV_RELAY_ACK_443, 431, "relay_ack_443")                             \
    X(SRV_RELAY_ACK_8199, 432, "relay_ack_8199")                           \
    X(SRV_SPEED_BEGIN, 443, "speed_begin")                                 \
    X(SRV_SPEED_END, 445, "speed_end")                                     \
    X(SRV_SLAVE1_ADDRESS, 462, "slave1_address")                           \
    X(SRV_SLAVE1_PORT1, 463, "slave1_port1")                               \
    X(SRV_SLAVE1_PORT2, 464, "slave1_port2")                               \
    X(SRV_SLAVE1_PORT3, 465, "slave1_port3")                               \
    X(SRV_SLAVE2_ADDRESS, 466, "slave2_address")                           \
    X(SRV_SLAVE2_PORT1, 467, "slave2_port1")                               \
    X(SRV_SLAVE2_PORT2, 468, "slave2_port2")                               \
    X(SRV_SLAVE2_PORT3, 469, "slave2_port3")                               \
    X(SRV_SLAVE_CONNECT, 470, "slave_connect")                             \
    X(SRV_SLAVE_ADDR_REQUEST, 480, "slave_addr_request")                   \
    X(SRV_PEER_SLAVE1, 481, "peer_slave1")                                 \
    X(SRV_PEER_SLAVE2, 482, "peer_slave2")                                 \
    X(SRV_NOTICE1, 998, "notice1")                                         \
    X(SRV_NOTICE2, 999, "notice2")                                         \
    X(SRV_EXTENSIONS, 1101, "extensions") /* answer to 1100 */            \
    X(SRV_OFFLINE_STORED, 1103, "offline_stored") /* after 1102 */        \
    X(SRV_OFFLINE_REFUSED, 1104, "offline_refused") /* after 1102 */      \
    X(SRV_RELAYED_DATAGRAM, 2000, "relayed_datagram")

// Extensions beyond the base protocol, announced after sign-in: the client sends 1100 with the
// mask of those it knows (decimal text), a server that knows the command answers 1101 with its
// own. Old parties ignore both. Each is used only when both sides announced it.
constexpr int kExtOfflineReceipt = 1;  // 1102 on an offline connection asks for 1103/1104
constexpr int kExtAll = kExtOfflineReceipt;

enum server_command : int {
#define PARLO_ENUM_ROW(name, number, text) name = number,
    PARLO_SERVER_COMMANDS(PARLO_ENUM_ROW)
#undef PARLO_ENUM_ROW
};

// Notifications to the main window (WM_APP + n on the original platform) and to chat windows.
#define PARLO_NOTIFICATIONS(X)                                                                       \
    X(NM_LOGIN_SUCCESS, 1, "login_success")                                                          \
    X(NM_LOGIN_FAILED, 2, "login_failed")                                                            \
    X(NM_LOGIN_CLOSED, 3, "login_closed")                                                            \
    X(NM_GROUP_LIST, 4, "group_list")                                                                \
    X(NM_CONTACT_LIST, 5, "contact_list")                                                            \
    X(NM_CONTACT_STATUS, 6, "contact_status")                                                        \
    X(NM_CHAT_TEXT, 7, "chat_text") /* chat window */                                                \
    X(NM_OPEN_CHAT, 8, "open_chat")                                                                  \
    X(NM_WELCOME, 9, "welcome")                                                                      \
    X(NM_OWN_VIDEO, 10, "own_video") /* chat window */                                               \
    X(NM_PEER_VIDEO, 11, "peer_video") /* chat window */                                             \
    X(NM_REGISTER_SUCCESS, 12, "register_success")                                                   \
    X(NM_REGISTER_ERROR, 13, "register_error")                                                       \
    X(NM_REGISTER_EMAIL_EXISTS, 14, "register_email_exists")                                         \
    X(NM_CONTACT_FOUND, 16, "contact_found")                                                         \
    X(NM_CONTACT_SEARCH_FAILED, 17, "contact_search_failed")                                         \
    X(NM_CONTACT_NOT_FOUND, 18, "contact_not_found")                                                 \
    X(NM_CONTACT_ADD_SUCCESS, 19, "contact_add_success")                                             \
    X(NM_CONTACT_ADD_FAILED, 20, "contact_add_failed")                                               \
    X(NM_CONTACT_ALREADY_EXISTS, 21, "contact_already_exists")                                       \
    X(NM_CONTACT_REMOVE_SUCCESS, 22, "contact_remove_success")                                       \
    X(NM_CONTACT_REMOVE_FAILED, 23, "contact_remove_failed")                                         \
    X(NM_CONTACT_ADD_CONFIRM_SUCCESS, 24, "contact_add_confirm_success")                             \
    X(NM_CONTACT_NOT_ADDED, 25, "contact_not_added")                                                 \
    X(NM_CONTACT_REMOVE_CONFIRM_SUCCESS, 26, "contact_remove_confirm_success")                       \
    X(NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS, 27, "contact_remove_confirm_no_success")                 \
    X(NM_GROUP_REMOVE_SUCCESS, 28, "group_remove_success")                                           \
    X(NM_GROUP_ADD_SUCCESS, 29, "group_add_success")                                                 \
    X(NM_GROUP_ADD_FAILED, 30, "group_add_failed")                                                   \
    X(NM_GROUP_REMOVE_FAILED, 31, "group_remove_failed")                                             \
    X(NM_GROUP_UPDATE_SUCCESS, 32, "group_update_success")                                           \
    X(NM_GROUP_UPDATE_FAILED, 33, "group_update_failed")                                             \
    X(NM_OFFLINE_WAITING, 34, "offline_waiting")                                                     \
    X(NM_OFFLINE_BEGIN, 35, "offline_begin")                                                         \
    X(NM_OFFLINE_TEXT, 36, "offline_text")                                                           \
    X(NM_OFFLINE_END, 37, "offline_end")                                                             \
    X(NM_TRAY_ICON, 38, "tray_icon")                                                                 \
    X(NM_SET_MY_STATUS, 39, "my_status")                                                             \
    X(NM_FILE_ASK, 40, "file_offer")                                                                 \
    X(NM_FILE_ACCEPTED, 41, "file_accepted")                                                         \
    X(NM_FILE_REFUSED, 42, "file_refused")                                                           \
    X(NM_FILE_DONE, 43, "file_saved")                                                                \
    X(NM_LOGGED_IN_ELSEWHERE, 44, "logged_in_elsewhere")                                             \
    X(NM_PEER_STATUS, 45, "peer_status")                                                             \
    X(NM_SERVER_NOTICE, 46, "server_notice")                                                         \
    X(NM_SERVER_NOTICE2, 47, "server_notice2")                                                       \
    X(NM_KNOCK, 48, "knock")                                                                         \
    /* File transfer progress and failures (wparam: the peer; see peer/file_transfer.h). */         \
    X(NM_FILE_SEND_PROGRESS, 60, "file_send_progress")                                               \
    X(NM_FILE_RECV_PROGRESS, 61, "file_recv_progress")                                               \
    X(NM_FILE_RECV_INCOMPLETE, 62, "file_incomplete")                                                \
    X(NM_FILE_SEND_FAILED, 63, "file_send_failed")                                                   \
    /* Ours: an action the session controller ran on a worker ended (wparam: its sequence number, */ \
    /* lparam: the action). */                                                                       \
    X(NM_ACTION_DONE, 70, "action_done")                                                             \
    /* Ours: the server of a signed-in session was lost and the sign-in is being tried again */       \
    /* (wparam 0: the loss, 1: an attempt failed); the controller knows the attempt and the delay. */  \
    X(NM_CONNECTING, 71, "connecting")                                                               \
    /* Ours: the voice path's level samples (wparam: peer id, lparam: the std::string of samples */  \
    /* it owns, one byte each) and a speaker's */                                                    \
    /* player starting or stopping (wparam: player index, lparam: peer id). */                       \
    X(NM_MIC_LEVEL, 1101, "mic_level")                                                               \
    X(NM_PEER_LEVEL, 1102, "peer_level")                                                             \
    X(NM_PLAYER_STARTED, 1103, "player_started")                                                     \
    X(NM_PLAYER_STOPPED, 1104, "player_stopped")                                                     \
    /* Ours: a connection to a relay is up and registered (wparam: its slot), and a route to a */    \
    /* contact through a relay was learnt or confirmed (wparam: the contact's id). */                \
    X(NM_RELAY_CONNECTED, 1105, "relay_connected")                                                   \
    X(NM_RELAY_ROUTE, 1106, "relay_route")                                                           \
    /* Ours: a chat line or echo from a peer for its chat window (wparam: the peer, lparam: the */    \
    /* chat_delivery the notification owns); the main window opens the chat window and hands it on. */ \
    X(NM_PEER_CHAT_LINE, 1107, "peer_chat_line")                                                     \
    /* A front end's own: a headless chat window hands a text to show to the main thread, decoded */ \
    /* video frames and moved voice counters wait to be printed (1008 is no longer used). */         \
    X(NM_CLI_CHAT_SHOW, 1007, "cli_chat_show")                                                       \
    X(NM_CLI_VIDEO_FRAME, 1009, "cli_video_frame")                                                   \
    X(NM_CLI_AUDIO_STATS, 1010, "cli_audio_stats")

enum notification : int {
#define PARLO_ENUM_ROW(name, number, text) name = number,
    PARLO_NOTIFICATIONS(PARLO_ENUM_ROW)
#undef PARLO_ENUM_ROW
};

// Between peers: on a direct connection, through a slave server or in a datagram.
#define PARLO_PEER_COMMANDS(X)                                                                       \
    X(PEER_IDENTIFY, 200, "identify")                                                                \
    X(PEER_CHAT_TEXT, 210, "chat_text")                                                              \
    X(PEER_CHAT_ECHO, 211, "chat_echo")                                                              \
    X(PEER_TALK_SILENCE, 220, "talk_silence")                                                        \
    X(PEER_TALK_DATA, 221, "talk_data")                                                              \
    X(PEER_VIDEO_CHANGE, 230, "video_change")                                                        \
    X(PEER_VIDEO_REQUEST, 231, "video_request")                                                      \
    X(PEER_VIDEO_BEGIN, 232, "video_begin")                                                          \
    X(PEER_VIDEO_CONT, 233, "video_cont")                                                            \
    X(PEER_VIDEO_END, 234, "video_end")                                                              \
    X(PEER_FILE_OFFER, 370, "file_offer")                                                            \
    X(PEER_FILE_ACCEPTED, 371, "file_accepted")                                                      \
    X(PEER_FILE_REFUSED, 372, "file_refused")                                                        \
    X(PEER_FILE_BEGIN, 373, "file_begin")                                                            \
    X(PEER_FILE_DATA, 374, "file_data")                                                              \
    X(PEER_FILE_END, 375, "file_end")                                                                \
    X(PEER_KNOCK, 410, "knock")                                                                      \
    X(PEER_KEEP_ALIVE, 1001, "keep_alive")                                                           \
    X(PEER_ROUTE_KEEP_ALIVE, 1002, "route_keep_alive")

enum peer_command : int {
#define PARLO_ENUM_ROW(name, number, text) name = number,
    PARLO_PEER_COMMANDS(PARLO_ENUM_ROW)
#undef PARLO_ENUM_ROW
};

// The name of a number in its table ("login", "contact_list", "chat_text"), or nullptr.
const char* client_command_name(int command);
const char* server_command_name(int command);
const char* peer_command_name(int command);
const char* notification_name(int n);

// Presence states.
enum presence_state : int {
    PS_OFFLINE = 0,
    PS_ONLINE = 1,
    PS_BUSY = 2,
    PS_AWAY = 3,
    PS_RIGHT_BACK = 4,
    PS_ON_PHONE = 5,
    PS_LUNCH = 6,
    PS_APPEAR_OFFLINE = 7,
};

// Relation states of a contact record.
enum relation_state : int {
    REL_CONNECT_NOW = 1,
    REL_ADDED = 3,
    REL_ADDED_ME = 4,
    REL_REMOVED_ME = 6,
    REL_REMOVAL_DECLINED = 7,
};

constexpr int kMaxContacts = 100;
constexpr int kMaxGroups = 50;
constexpr int kMaxChatDlgs = 20;

// Periods of the main window's timers, in milliseconds.
constexpr uint32_t kHousekeepingPeriodMs = 5000;      // timer 1
constexpr uint32_t kOnlineQueryPeriodMs = 120000;     // timer 2
constexpr uint32_t kOfflineCheckPeriodMs = 1800000;   // timer 3
constexpr uint32_t kStatusBroadcastDelayMs = 5000;    // timer 5 (one-shot)
constexpr uint32_t kAutoAwayIdleMs = 180001;          // idle time that turns Online into Away
constexpr uint32_t kSpeedTestIntervalMs = 3600000;    // a new speed test at most once an hour
constexpr int kSpeedTestBodyBytes = 1000;

// Length limits of texts that travel or are stored.
constexpr int kRegistrationRecordBytes = 512;
constexpr int kOfflineMaxChars = 10000;
constexpr int kOfflinePieceBytes = 1000;
constexpr int kOfflineChunkChars = 2047;
constexpr int kNoticeChars = 1024;
constexpr int kLocalAddressChars = 49;

// How long a one-shot connection to a home server waits for a reply before it gives up.
constexpr int kHomeServerReplyTimeoutMs = 10000;
