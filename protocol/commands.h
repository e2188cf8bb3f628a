// Every command number of the messenger protocol, the main window's notification numbers and the
// fixed sizes and periods of the session, in one place.
#pragma once
#include <cstdint>

// Client to server (main connection unless noted).
enum client_command : int {
    CMD_LOGIN = 130,
    CMD_SIGN_OUT = 133,
    CMD_GET_GROUPS = 160,
    CMD_GET_CONTACTS = 170,
    CMD_LOCAL_ADDRESS = 180,
    CMD_QUERY_ONLINE = 185,  // home server
    CMD_REGISTER = 250,
    CMD_SEARCH_CONTACT = 260,
    CMD_ADD_CONTACT = 280,
    CMD_ACCEPT_ADDED = 284,
    CMD_DECLINE_ADDED = 285,
    CMD_REMOVE_CONTACT = 290,
    CMD_ACCEPT_REMOVED = 293,
    CMD_KEEP_REMOVED = 294,
    CMD_MOVE_CONTACT = 300,
    CMD_ADD_GROUP = 310,
    CMD_RENAME_GROUP = 313,
    CMD_REMOVE_GROUP = 316,
    CMD_OFFLINE_BEGIN = 330,  // home server
    CMD_OFFLINE_TEXT = 331,   // home server
    CMD_OFFLINE_END = 332,    // home server
    CMD_OFFLINE_CHECK = 340,
    CMD_OFFLINE_READ = 343,
    CMD_OFFLINE_DONE = 348,
    CMD_SET_STATUS = 360,
    CMD_PEER_ADDRESS_REQUEST = 380,  // home server
    CMD_STATUS_TO_HOME = 400,        // home server
    CMD_RELAY_PORT_80 = 420,
    CMD_RELAY_PORT_443 = 421,
    CMD_RELAY_PORT_8199 = 422,
    CMD_SPEED_START = 440,
    CMD_SPEED_DATA = 441,
    CMD_SPEED_END = 442,
    CMD_SPEED_RESULT = 450,
    CMD_RELAY_TRAFFIC = 451,
    CMD_RELAY_CONNECTIONS = 452,
    CMD_SLAVE_SERVER_REQUEST = 460,
    CMD_KEEP_ALIVE = 1000,
};

// Server to client.
enum server_command : int {
    SRV_LOGIN_OK = 131,
    SRV_LOGIN_FAILED = 132,
    SRV_LOGIN_CLOSED = 134,
    SRV_ACCEPTED = 141,
    SRV_SESSION_KEY_FAILED = 142,
    SRV_SESSION_ID = 150,
    SRV_USER_ID = 151,
    SRV_ONLINE_INDEX = 152,
    SRV_NAME1 = 153,
    SRV_NAME2 = 154,
    SRV_NAME3 = 155,
    SRV_GROUPS_BEGIN = 161,
    SRV_GROUP = 162,
    SRV_GROUPS_END = 163,
    SRV_CONTACTS_BEGIN = 171,
    SRV_CONTACT = 172,
    SRV_CONTACTS_END = 173,
    SRV_CONTACT_HOME_SERVER = 174,
    SRV_CONTACT_EXTRA = 175,
    SRV_CONTACT_FIRST_NAME = 176,
    SRV_CONTACT_LAST_NAME = 177,
    SRV_CONTACT_EMAIL = 178,
    SRV_CONTACT_RELATION = 179,
    SRV_ONLINE_STATE = 186,  // online-query connection
    SRV_ONLINE_ADDRESS = 187,
    SRV_ONLINE_DONE = 188,
    SRV_REGISTER_OK = 251,
    SRV_REGISTER_ERROR = 252,
    SRV_REGISTER_EMAIL_EXISTS = 253,
    SRV_FOUND_ID = 261,
    SRV_FOUND_FIRST_NAME = 262,
    SRV_FOUND_LAST_NAME = 263,
    SRV_FOUND_NICK_NAME = 264,
    SRV_FOUND_EMAIL = 265,
    SRV_SEARCH_FAILED = 266,
    SRV_SEARCH_NOT_FOUND = 267,
    SRV_ADD_OK = 281,
    SRV_ADD_FAILED = 282,
    SRV_ADD_EXISTS = 283,
    SRV_ADD_CONFIRM_OK = 286,
    SRV_ADD_CONFIRM_NO = 287,
    SRV_REMOVE_OK = 291,
    SRV_REMOVE_FAILED = 292,
    SRV_REMOVE_CONFIRM_OK = 295,
    SRV_REMOVE_CONFIRM_NO = 296,
    SRV_GROUP_ADD_OK = 311,
    SRV_GROUP_ADD_FAILED = 312,
    SRV_GROUP_RENAME_OK = 314,
    SRV_GROUP_RENAME_FAILED = 315,
    SRV_GROUP_REMOVE_OK = 317,
    SRV_GROUP_REMOVE_FAILED = 318,
    SRV_OFFLINE_WAITING = 341,
    SRV_OFFLINE_BEGIN = 345,
    SRV_OFFLINE_TEXT = 346,
    SRV_OFFLINE_END = 347,
    SRV_STATUS_SET = 361,
    SRV_PEER_ADDRESS = 381,
    SRV_LOGGED_IN_ELSEWHERE = 390,
    SRV_PEER_STATUS = 401,
    SRV_RELAY_ACK_80 = 430,
    SRV_RELAY_ACK_443 = 431,
    SRV_RELAY_ACK_8199 = 432,
    SRV_SPEED_BEGIN = 443,
    SRV_SPEED_END = 445,
    SRV_SLAVE1_ADDRESS = 462,
    SRV_SLAVE1_PORT1 = 463,
    SRV_SLAVE1_PORT2 = 464,
    SRV_SLAVE1_PORT3 = 465,
    SRV_SLAVE2_ADDRESS = 466,
    SRV_SLAVE2_PORT1 = 467,
    SRV_SLAVE2_PORT2 = 468,
    SRV_SLAVE2_PORT3 = 469,
    SRV_SLAVE_CONNECT = 470,
    SRV_SLAVE_ADDR_REQUEST = 480,
    SRV_PEER_SLAVE1 = 481,
    SRV_PEER_SLAVE2 = 482,
    SRV_NOTICE1 = 998,
    SRV_NOTICE2 = 999,
    SRV_RELAYED_DATAGRAM = 2000,
};

// Notifications to the main window (WM_APP + n on the original platform) and to chat windows.
enum notification : int {
    NM_LOGIN_SUCCESS = 1,
    NM_LOGIN_FAILED = 2,
    NM_LOGIN_CLOSED = 3,
    NM_GROUP_LIST = 4,
    NM_CONTACT_LIST = 5,
    NM_CONTACT_STATUS = 6,
    NM_CHAT_TEXT = 7,  // chat window
    NM_OPEN_CHAT = 8,
    NM_WELCOME = 9,
    NM_OWN_VIDEO = 10,   // chat window
    NM_PEER_VIDEO = 11,  // chat window
    NM_REGISTER_SUCCESS = 12,
    NM_REGISTER_ERROR = 13,
    NM_REGISTER_EMAIL_EXISTS = 14,
    NM_CONTACT_FOUND = 16,
    NM_CONTACT_SEARCH_FAILED = 17,
    NM_CONTACT_NOT_FOUND = 18,
    NM_CONTACT_ADD_SUCCESS = 19,
    NM_CONTACT_ADD_FAILED = 20,
    NM_CONTACT_ALREADY_EXISTS = 21,
    NM_CONTACT_REMOVE_SUCCESS = 22,
    NM_CONTACT_REMOVE_FAILED = 23,
    NM_CONTACT_ADD_CONFIRM_SUCCESS = 24,
    NM_CONTACT_NOT_ADDED = 25,
    NM_CONTACT_REMOVE_CONFIRM_SUCCESS = 26,
    NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS = 27,
    NM_GROUP_REMOVE_SUCCESS = 28,
    NM_GROUP_ADD_SUCCESS = 29,
    NM_GROUP_ADD_FAILED = 30,
    NM_GROUP_REMOVE_FAILED = 31,
    NM_GROUP_UPDATE_SUCCESS = 32,
    NM_GROUP_UPDATE_FAILED = 33,
    NM_OFFLINE_WAITING = 34,
    NM_OFFLINE_BEGIN = 35,
    NM_OFFLINE_TEXT = 36,
    NM_OFFLINE_END = 37,
    NM_TRAY_ICON = 38,
    NM_SET_MY_STATUS = 39,
    NM_FILE_ASK = 40,
    NM_FILE_ACCEPTED = 41,
    NM_FILE_REFUSED = 42,
    NM_FILE_DONE = 43,
    NM_LOGGED_IN_ELSEWHERE = 44,
    NM_PEER_STATUS = 45,
    NM_SERVER_NOTICE = 46,
    NM_SERVER_NOTICE2 = 47,
    NM_KNOCK = 48,
    // Ours: an action the session controller ran on a worker ended (wparam: its sequence number,
    // lparam: the action).
    NM_ACTION_DONE = 70,
};

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
