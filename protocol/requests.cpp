#include "protocol/requests.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/message_reader.h"
#include "protocol/notify.h"
#include "protocol/proxy.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/tables.h"

namespace {
std::atomic<bool> g_relay_acked[3];
std::atomic<int> g_reply_timeout_ms{kHomeServerReplyTimeoutMs};

// Speed-test state: written by the front end's tick (start) and the receive thread (445).
std::mutex g_speed_mutex;
bool g_speed_started = false;   // a test has been started at least once
bool g_speed_pending = false;   // waiting for 445
uint32_t g_speed_test_send_start_tick = 0;
uint32_t g_speed_test_recv_end_tick = 0;

// The id as "%10d", or as a bare "%d" where the request takes it that way (290).
int send_id_text(int command, bool padded, int id) {
    char body[32];
    if (padded)
        std::snprintf(body, sizeof(body), "%10d", id);
    else
        std::snprintf(body, sizeof(body), "%d", id);
    return general_str_command_to_server(command, body);
}

int send_two_ids(int command, int a, int b) {
    char body[32];
    std::snprintf(body, sizeof(body), "%10d:%10d", a, b);
    return general_str_command_to_server(command, body);
}

std::string cut(const char* text, size_t chars) {
    std::string s = text ? text : "";
    if (s.size() > chars) s.resize(chars);
    return s;
}
}  // namespace

int request_groups() { return general_command_to_server(CMD_GET_GROUPS); }
int request_contacts() { return general_command_to_server(CMD_GET_CONTACTS); }

int send_local_address() {
    // Through a proxy that carries everything, the address the server sees is the proxy's; the
    // address behind it is not told.
    if (proxy_everything()) return 0;
    char address[kLocalAddressChars + 1];
    copy_text(address, g_main_link.local_address_text().c_str());
    return general_str_command_to_server(CMD_LOCAL_ADDRESS, address);
}

void build_registration_record(const registration_fields& f, char out[kRegistrationRecordBytes]) {
    struct slot {
        const char* text;
        int offset;
        int width;
    };
    const slot slots[] = {{f.email, 0, 127},      {f.password, 128, 63}, {f.first_name, 192, 31},
                          {f.last_name, 224, 31}, {f.nick_name, 256, 127}, {f.phone, 384, 63},
                          {f.country, 448, 63}};
    std::memset(out, 0, kRegistrationRecordBytes);
    for (const slot& s : slots) {
        size_t n = s.text ? strnlen(s.text, static_cast<size_t>(s.width)) : 0;
        if (n > 0) std::memcpy(out + s.offset, s.text, n);
        out[s.offset + s.width] = ':';
    }
}

int send_registration(const registration_fields& f) {
    char record[kRegistrationRecordBytes];
    build_registration_record(f, record);
    ensure_main_connection();
    return general_buf_command_to_server(CMD_REGISTER, record, kRegistrationRecordBytes);
}

int request_contact_search(const char* email) {
    std::string e = cut(email, 127);
    set_searched_email(e.c_str());
    return general_str_command_to_server(CMD_SEARCH_CONTACT, e.c_str());
}

int request_add_contact(int contact_id, int group_id) {
    return send_two_ids(CMD_ADD_CONTACT, contact_id, group_id);
}

int answer_added_me(int contact_id, bool accept) {
    return send_id_text(accept ? CMD_ACCEPT_ADDED : CMD_DECLINE_ADDED, true, contact_id);
}

int request_remove_contact(int contact_id) {
    return send_id_text(CMD_REMOVE_CONTACT, false, contact_id);
}

int answer_removed_me(int contact_id, bool accept) {
    return send_id_text(accept ? CMD_ACCEPT_REMOVED : CMD_KEEP_REMOVED, true, contact_id);
}

int request_move_contact(int contact_id, int group_id) {
    return send_two_ids(CMD_MOVE_CONTACT, contact_id, group_id);
}

int request_add_group(const char* name) {
    return general_str_command_to_server(CMD_ADD_GROUP, cut(name, 31).c_str());
}

int request_rename_group(int group_id, const char* name) {
    char body[64];
    std::snprintf(body, sizeof(body), "%10d:%s", group_id, cut(name, 31).c_str());
    return general_str_command_to_server(CMD_RENAME_GROUP, body);
}

int request_remove_group(int group_id) { return send_id_text(CMD_REMOVE_GROUP, true, group_id); }
int request_offline_check() { return general_command_to_server(CMD_OFFLINE_CHECK); }
int request_offline_read() { return general_command_to_server(CMD_OFFLINE_READ); }
int send_offline_done(int sender_id) { return send_id_text(CMD_OFFLINE_DONE, true, sender_id); }
int request_status(int state) { return send_id_text(CMD_SET_STATUS, true, state); }
int send_keep_alive() { return general_command_to_server(CMD_KEEP_ALIVE); }

void set_relay_acked(int slot) {
    if (slot >= 0 && slot < 3) g_relay_acked[slot] = true;
}
bool relay_acked(int slot) { return slot >= 0 && slot < 3 && g_relay_acked[slot].load(); }
void reset_relay_acks() {
    for (auto& a : g_relay_acked) a = false;
}

void reset_speed_test() {
    std::lock_guard<std::mutex> lk(g_speed_mutex);
    g_speed_started = false;
    g_speed_pending = false;
    g_speed_test_send_start_tick = 0;
    g_speed_test_recv_end_tick = 0;
}

bool speed_test_started() {
    std::lock_guard<std::mutex> lk(g_speed_mutex);
    return g_speed_started;
}

bool speed_test_due(uint32_t now, uint32_t tick_count) {
    if (tick_count % 5 != 1) return false;
    std::lock_guard<std::mutex> lk(g_speed_mutex);
    if (!g_speed_started) return true;
    // A lost answer must not stop the tests for good: the hour then counts from the start.
    uint32_t since = g_speed_pending ? g_speed_test_send_start_tick : g_speed_test_recv_end_tick;
    return now - since >= kSpeedTestIntervalMs;
}

int start_speed_test(uint32_t now) {
    {
        std::lock_guard<std::mutex> lk(g_speed_mutex);
        g_speed_started = true;
        g_speed_pending = true;
        g_speed_test_send_start_tick = now;
    }
    static const char zeros[kSpeedTestBodyBytes] = {};
    general_buf_command_to_server(CMD_SPEED_START, zeros, kSpeedTestBodyBytes);
    for (int i = 0; i < 3; i++) general_buf_command_to_server(CMD_SPEED_DATA, zeros, kSpeedTestBodyBytes);
    general_buf_command_to_server(CMD_SPEED_END, zeros, kSpeedTestBodyBytes);
    return 0;
}

int do_speed_test_reply_end_from_server() {
    uint32_t elapsed;
    {
        std::lock_guard<std::mutex> lk(g_speed_mutex);
        if (!g_speed_pending) {
            log_line("speed test answer without a test in do_speed_test_reply_end_from_server\r\n");
            return -1;
        }
        g_speed_pending = false;
        g_speed_test_recv_end_tick = get_tick_count();
        if (g_speed_test_recv_end_tick == g_speed_test_send_start_tick) {
            log_line("Error:g_speed_test_recv_end_tick==g_speed_test_send_start_tick in "
                     "do_speed_test_reply_end_from_server\r\n");
            return -1;
        }
        elapsed = g_speed_test_recv_end_tick - g_speed_test_send_start_tick;
    }
    char body[16];
    std::snprintf(body, sizeof(body), "%12d", static_cast<int>(1000000u / elapsed));
    return general_str_command_to_server(CMD_SPEED_RESULT, body);
}

void set_home_server_reply_timeout(int ms) { g_reply_timeout_ms = ms; }
int home_server_reply_timeout() { return g_reply_timeout_ms.load(); }

int start_retrieving_pass() {
    int started = 0;
    for (int index : start_server_pass(RETRIEVE_MARKER))
        if (start_job([index] { one_retrieving_thread(index); }) == 0) started++;
    return started;
}

int start_sending_status_pass(int state, const char* local_address) {
    std::string address = cut(local_address, kLocalAddressChars);
    int started = 0;
    for (int index : start_server_pass(STATUS_MARKER))
        if (start_job([index, state, address] {
                one_sending_status_thread(index, state, address.c_str());
            }) == 0)
            started++;
    return started;
}

namespace {
// The ids of the in-use records homed on `host`, in slot order.
std::vector<int> contacts_homed_on(const char* host) {
    std::vector<int> ids;
    tables_guard lk(tables_mutex());
    for (auto& c : g_contact)
        if (c.in_use != 0 && std::strcmp(c.home_server, host) == 0) ids.push_back(c.contact_id);
    return ids;
}

}  // namespace

int one_retrieving_thread(int index) {
    if (index < 0 || index >= kMaxContacts) {
        log_line("index:%d out of range 0-%d in one_retrieving_thread\r\n", index, kMaxContacts - 1);
        return -1;
    }
    contact_record rec;
    if (!contact_at(index, &rec) || rec.home_server[0] == '\0') return -1;
    Clink_socket link;
    if (!connect_home_server(link, rec.home_server, "retrieving")) {
        log_line("could not connect to home server %s in one_retrieving_thread\r\n", rec.home_server);
        return -1;
    }
    std::vector<char> buffer(kRecvBufSize);
    int session = 0, board = 0;
    for (int id : contacts_homed_on(rec.home_server)) {
        char body[16];
        std::snprintf(body, sizeof(body), "%10d", id);
        char msg[64];
        int total = build_message(msg, sizeof(msg), session, board, CMD_QUERY_ONLINE, body,
                                  static_cast<int>(std::strlen(body)));
        link.send_with_reconnect(msg, total);
        for (;;) {
            // A server that does not answer must not keep this thread forever.
            socket_t s = link.sock.load();
            if (s == 0 || wait_readable(s, home_server_reply_timeout()) <= 0) {
                log_line("no answer from %s in one_retrieving_thread\r\n", rec.home_server);
                link.my_close();
                return -1;
            }
            msg_header h;
            int r = read_server_message(link, buffer.data(), &h);
            if (r != READ_OK) {
                link.my_close();
                return -1;
            }
            session = h.session;
            board = h.board_num;
            const char* reply = buffer.data() + kHeaderLen;
            if (h.command == SRV_ONLINE_STATE) {
                query_online_reply_from_server(reply, h.len, h.board_num);
                continue;
            }
            if (h.command == SRV_ONLINE_ADDRESS) query_online_reply_ip_from_server(reply, h.len);
            break;  // 187, 188, anything else or an empty read: next contact
        }
    }
    link.my_close();
    return 0;
}

int one_sending_status_thread(int index, int state, const char* local_address) {
    if (index < 0 || index >= kMaxContacts) {
        log_line("index:%d out of range 0-%d in one_sending_status_thread\r\n", index,
                 kMaxContacts - 1);
        return -1;
    }
    contact_record rec;
    if (!contact_at(index, &rec) || rec.home_server[0] == '\0') return -1;
    Clink_socket link;
    if (!connect_home_server(link, rec.home_server, "sending status")) {
        log_line("could not connect to home server %s in one_sending_status_thread\r\n",
                 rec.home_server);
        return -1;
    }
    std::string address = cut(local_address, kLocalAddressChars);
    for (int id : contacts_homed_on(rec.home_server)) {
        char body[128];
        std::snprintf(body, sizeof(body), "%10d:%10d:%6d:%s", id, g_user_id.load(), state,
                      address.c_str());
        general_str_command_to_socket(CMD_STATUS_TO_HOME, body, &link);
    }
    link.my_close();
    return 0;
}

namespace {
// Position of the first character that is neither a digit nor a blank, or -1.
int first_bad_char(const char* body, int count) {
    for (int i = 0; i < count && body[i] != '\0'; i++)
        if (!(body[i] >= '0' && body[i] <= '9') && body[i] != ' ') return i;
    return -1;
}
}  // namespace

int query_online_reply_from_server(const char* body, int len, int board_num) {
    int bad = first_bad_char(body, len);
    if (bad >= 0) {
        log_line("content in query_online_reply_from_server has bad data:%s at pos:%d\r\n", body, bad);
        return -1;
    }
    int id = 0;
    std::sscanf(body, "%10d", &id);
    std::vector<int> hits;
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.contact_id == id) {
                c.presence = board_num;
                hits.push_back(id);
            }
    }
    if (hits.empty()) {
        log_line("content in query_online_reply_from_server did not found contact_id:%d\r\n", id);
        return -1;
    }
    for (int hit : hits) post_main(NM_CONTACT_STATUS, hit, board_num);
    return 0;
}

int query_online_reply_ip_from_server(const char* body, int len) {
    int bad = first_bad_char(body, len < 10 ? len : 10);
    if (bad >= 0) {
        log_line("content in query_online_reply_ip_from_server has bad data:%s at pos:%d\r\n", body,
                 bad);
        return -1;
    }
    int id = 0;
    char address[21] = "";
    std::sscanf(body, "%10d:%20s", &id, address);
    int found = 0;
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.contact_id == id) {
                copy_text(c.address, address);
                found++;
            }
    }
    contact_address_written();
    if (found == 0) {
        log_line("content in query_online_reply_ip_from_server did not found contact_id:%d\r\n", id);
        return -1;
    }
    return 0;
}
