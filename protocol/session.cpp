#include "protocol/session.h"

#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/debug_log.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "protocol/extensions.h"
#include "protocol/message_reader.h"
#include "protocol/notify.h"
#include "protocol/peer_dispatch.h"
#include "protocol/requests.h"
#include "protocol/server_link.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"

std::atomic<int> g_logged_in{0};
std::atomic<int> g_session_id{0};
std::atomic<int> g_user_id{0};
std::atomic<int> g_online_index{-1};
std::atomic<int> g_my_status{0};

namespace {
std::mutex g_text_mutex;
session_texts g_texts;
found_contact g_found;
char g_offline_chunk[kOfflineChunkChars + 1];
char g_group_update_name[128];
char g_notices[2][kNoticeChars + 1];
char g_searched_email[128];

std::thread g_recv_thread;
std::atomic<bool> g_recv_stop{false};
// A login was sent and no sign-out since: a new main connection repeats the login.
std::atomic<bool> g_login_wanted{false};
// The server accepted the credentials of this session: losing it from here on resumes it.
std::atomic<bool> g_accepted{false};
// The loss was posted and the main connection is left to resume_session (see session_resuming).
std::atomic<bool> g_resuming{false};

// Leaves the resuming state: the session is back, or over.
void end_resuming() {
    g_resuming = false;
    g_main_link.hold_reconnect = false;
}

// The main connection is gone while a login is wanted. An accepted session is handed to the
// controller's retries (posted once per loss); a first login that never got its answer fails.
void main_connection_lost() {
    if (!g_login_wanted.load()) return;
    g_logged_in = 0;
    if (g_accepted.load()) {
        g_main_link.hold_reconnect = true;
        if (!g_resuming.exchange(true)) {
            log_line("main connection lost, resuming the session\r\n");
            post_main(NM_CONNECTING, 0);
        }
        return;
    }
    // Told once: the session is over until the user signs in again, so later sends do not try
    // (and fail, and tell) again on every keep-alive.
    log_line("main connection lost and not made again, signed out\r\n");
    if (g_login_wanted.exchange(false)) post_main(NM_LOGIN_FAILED);
}

int body_int(const char* body) {
    int v = 0;
    std::sscanf(body, "%d", &v);
    return v;
}

// "%10d:%s": the id, then one blank-free word cut to `width` characters.
bool id_and_word(const char* body, int width, int* id, char* word) {
    word[0] = '\0';
    int consumed = 0;
    if (std::sscanf(body, "%10d:%n", id, &consumed) < 1 || consumed == 0) return false;
    const char* p = body + consumed;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
    int n = 0;
    while (n < width && p[n] != '\0' && p[n] != ' ' && p[n] != '\t' && p[n] != '\r' && p[n] != '\n') {
        word[n] = p[n];
        n++;
    }
    word[n] = '\0';
    return true;
}

// Sets a text field of the first record with this id (174-178); unknown ids change nothing.
template <size_t N>
void set_contact_text(int id, char (contact_record::*field)[N], const char* word) {
    tables_guard lk(tables_mutex());
    int i = get_contact_index(id);
    if (i >= 0) copy_text(g_contact[i].*field, word);
}

void store_text(char* dst, size_t dst_size, const char* body, int len, int width) {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    copy_body_text(dst, dst_size, body, len, 0, width);
}

bool connection_has_data(socket_t s) {
    int pending = 0;
    if (ioctl(s, FIONREAD, &pending) != 0) return false;
    return pending > 0;
}

// A handle is published before a proxy has answered its handshake, which the connecting thread
// reads itself; the receive loop keeps off the connection until it is marked connected. Called
// after the handle was loaded: a new handle is stored only after the old one was marked closed.
bool main_link_ready() { return g_main_link.connected.load() != 0; }

// The receive loop found the connection s broken. A connection closed on purpose (sign-out,
// an attempt that replaced it) is no loss: only the one still current is reported.
void lose_main_connection(socket_t s) {
    if (g_main_link.sock.load() != s) return;
    g_main_link.my_close();
    main_connection_lost();
}

// Reads and dispatches messages while the main connection stays open.
void read_main_connection(std::vector<char>& buffer) {
    while (!g_recv_stop.load()) {
        socket_t s = g_main_link.sock.load();
        if (s == 0 || !main_link_ready()) return;
        int r = g_main_link.wait_readable_for(kRecvIdleWaitMs);
        if (g_main_link.sock.load() != s) continue;  // closed or replaced meanwhile
        if (r == 0) continue;
        if (r < 0) {
            log_line("g_recv_thread select return <0.\n");
            lose_main_connection(s);
            return;
        }
        // Readable with nothing pending: the server closed the connection (or it failed).
        if (!connection_has_data(s)) {
            log_line("g_recv_thread: server closed the main connection.\n");
            lose_main_connection(s);
            return;
        }
        if (g_main_link.sock.load() == 0) return;
        msg_header header;
        int got = read_server_message(g_main_link, buffer.data(), &header);
        if (got == READ_BROKEN) {
            lose_main_connection(s);
            return;
        }
        if (got != READ_OK) continue;
        dispatch_server_command(header.command, buffer.data() + kHeaderLen, header.len,
                                header.board_num);
    }
}

void recv_thread_main() {
    std::vector<char> buffer(kRecvBufSize);
    while (!g_recv_stop.load()) {
        // The event is signalled after every send; the bounded wait also lets the thread see the
        // stop flag and a connection made without a signal.
        g_recv_event.wait(kRecvPollMs);
        if (g_recv_stop.load()) break;
        if (g_main_link.sock.load() == 0 || !main_link_ready()) continue;
        read_main_connection(buffer);
    }
}
}  // namespace

session_texts get_session_texts() {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    return g_texts;
}

found_contact get_found_contact() {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    return g_found;
}

std::string get_offline_chunk() {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    return g_offline_chunk;
}

std::string get_group_update_name() {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    return g_group_update_name;
}

std::string get_server_notice(int which) {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    return g_notices[which == 0 ? 0 : 1];
}

void set_searched_email(const char* email) {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    copy_text(g_searched_email, email);
}

std::string get_searched_email() {
    std::lock_guard<std::mutex> lk(g_text_mutex);
    return g_searched_email;
}

void reset_session_values() {
    g_logged_in = 0;
    g_session_id = 0;
    g_user_id = 0;
    g_online_index = -1;
    g_my_status = 0;
    std::lock_guard<std::mutex> lk(g_text_mutex);
    std::memset(&g_texts, 0, sizeof(g_texts));
    std::memset(&g_found, 0, sizeof(g_found));
    g_offline_chunk[0] = '\0';
    g_group_update_name[0] = '\0';
    g_notices[0][0] = g_notices[1][0] = '\0';
    g_searched_email[0] = '\0';
}

namespace {
// The main connection broke and a send made it again: the server no longer has this client
// signed in, so the login goes out first (its reply brings the requests that follow a login).
// The user hears when that cannot happen; a refused login arrives as the usual reply.
void relogin_after_reconnect(Clink_socket& link, bool connected) {
    if (!g_login_wanted.load()) return;
    g_logged_in = 0;
    if (connected) {
        session_texts t = get_session_texts();
        char body[kTextBuilderSize];
        std::snprintf(body, sizeof(body), "%s:%s", t.my_email, t.my_passwd);
        char msg[kTextBuilderSize + kHeaderLen];
        int len = build_message(msg, sizeof(msg), 0, 0, CMD_LOGIN, body,
                                static_cast<int>(std::strlen(body)));
        // Sent without the reconnecting send: this runs inside a reconnect.
        if (len > 0 && link.my_send_fixed_len(msg, len) > 0) {
            log_line("main connection made again, login repeated\r\n");
            g_recv_event.signal();
            return;
        }
    }
    main_connection_lost();
}
}  // namespace

int session_start() {
    if (g_recv_thread.joinable()) return 0;
    reset_session_values();
    clear_all_tables();
    reset_speed_test();
    reset_relay_acks();
    g_recv_event.reset();
    g_login_wanted = false;
    g_accepted = false;
    end_resuming();
    copy_text(g_main_link.name, "main server");
    g_main_link.report_receive_failure = 1;
    g_main_link.on_reconnect = relogin_after_reconnect;
    if (g_main_link.sock.load() == 0) {
        deployment_server_host(g_main_link.server_host, sizeof(g_main_link.server_host));
        g_main_link.server_port = kServerPort;
    }
    g_recv_stop = false;
    try {
        g_recv_thread = std::thread(recv_thread_main);
    } catch (const std::system_error&) {
        log_line("could not start g_recv_thread.\r\n");
        return -1;
    }
    g_recv_event.signal();
    return 0;
}

void session_stop() {
    g_login_wanted = false;
    g_accepted = false;
    end_resuming();
    g_recv_stop = true;
    // A sign-out still queued goes out first (bounded: a server that reads nothing is left).
    main_link_flush(1000);
    g_main_link.my_close();
    main_link_writer_stop();
    g_recv_event.signal();
    if (g_recv_thread.joinable()) g_recv_thread.join();
}

int ensure_main_connection() {
    char host[sizeof(g_main_link.server_host)];
    deployment_server_host(host, sizeof(host));
    int r = g_main_link.ensure_connected(host, kServerPort);
    g_recv_event.signal();
    return r;
}

int login(const char* email, const char* password) {
    {
        std::lock_guard<std::mutex> lk(g_text_mutex);
        copy_text(g_texts.my_email, email);
        copy_text(g_texts.my_passwd, password);
    }
    g_login_wanted = true;
    g_accepted = false;
    end_resuming();
    g_logged_in = 0;
    peer().session_signing_in();
    ensure_main_connection();
    session_texts t = get_session_texts();
    char body[kTextBuilderSize];
    std::snprintf(body, sizeof(body), "%s:%s", t.my_email, t.my_passwd);
    return general_str_command_to_server(CMD_LOGIN, body);
}

int sign_out() {
    g_login_wanted = false;
    g_accepted = false;
    int r = 0;
    if (g_resuming.exchange(false)) {
        // No server to tell: the attempts stop and whatever connection one made goes.
        g_main_link.my_close();
    } else {
        r = general_command_to_server(CMD_SIGN_OUT);
    }
    end_resuming();
    g_logged_in = 0;
    peer().close_connections();
    return r;
}

bool session_resuming() { return g_resuming.load(); }

int resume_session(const std::function<bool()>& still_wanted) {
    if (!g_login_wanted.load() || !g_resuming.load() || !still_wanted()) return 1;
    // A connection is left only by an earlier attempt whose login was not answered in time.
    g_main_link.my_close();
    if (ensure_main_connection() != 0) return -1;
    if (!still_wanted()) return 1;
    // As on a first sign-in: the peer, relay and slave-server connections of the lost session
    // go, and the relays announce themselves to the server again.
    peer().session_signing_in();
    reset_relay_acks();
    session_texts t = get_session_texts();
    char body[kTextBuilderSize];
    std::snprintf(body, sizeof(body), "%s:%s", t.my_email, t.my_passwd);
    log_line("main connection made again, resuming the session with a login\r\n");
    return general_str_command_to_server(CMD_LOGIN, body) == 0 ? 0 : -1;
}

int do_status_notify_by_peer(const char* body, int len) {
    int id = 0, state = 0;
    char address[21] = "";
    if (std::sscanf(body, "%10d:%6d:%20s", &id, &state, address) < 2) {
        log_line("bad content in do_status_notify_by_peer:%.40s\r\n", body);
        return -1;
    }
    (void)len;
    int found = 0;
    bool moved = false;
    {
        tables_guard lk(tables_mutex());
        for (auto& c : g_contact)
            if (c.in_use != 0 && c.contact_id == id) {
                if (c.address[0] != '\0' && address[0] != '\0' &&
                    std::strcmp(c.address, address) != 0)
                    moved = true;
                copy_text(c.address, address);
                found++;
            }
    }
    contact_address_written();
    if (moved) peer().contact_address_changed(id);
    // An unknown peer is logged; the notification goes out all the same (its handler finds no
    // contact and changes nothing).
    if (found == 0)
        log_line("could not find peer_id in do_status_notify_by_peer, peer_id:%d\r\n", id);
    post_main(NM_PEER_STATUS, id, state);
    return found == 0 ? -1 : 0;
}

void dispatch_server_command(int command, char* body, int len, int board_num) {
    int id = 0;
    char word[128];
    switch (command) {
    case SRV_LOGIN_OK:
        g_logged_in = 1;
        g_accepted = true;
        end_resuming();
        extensions_signed_in();
        post_main(NM_LOGIN_SUCCESS);
        break;
    case SRV_LOGIN_FAILED:
        // A server that answered refused the credentials: nothing is resumed with them.
        g_logged_in = 0;
        g_accepted = false;
        g_login_wanted = false;
        end_resuming();
        post_main(NM_LOGIN_FAILED);
        break;
    case SRV_LOGIN_CLOSED:
        g_logged_in = 0;
        post_main(NM_LOGIN_CLOSED);
        break;
    case SRV_ACCEPTED:
        break;
    case SRV_SESSION_KEY_FAILED:
        log_line("login session key failed. g_session_id:%d g_user_id:%d, g_online_index:%d\r\n",
                 g_session_id.load(), g_user_id.load(), g_online_index.load());
        break;
    case SRV_SESSION_ID: g_session_id = body_int(body); break;
    case SRV_USER_ID: g_user_id = body_int(body); break;
    case SRV_ONLINE_INDEX: g_online_index = body_int(body); break;
    case SRV_NAME1: store_text(g_texts.my_name1, sizeof(g_texts.my_name1), body, len, 31); break;
    case SRV_NAME2: store_text(g_texts.my_name2, sizeof(g_texts.my_name2), body, len, 31); break;
    case SRV_NAME3:
        store_text(g_texts.my_name3, sizeof(g_texts.my_name3), body, len, 31);
        post_main(NM_WELCOME);
        break;
    case SRV_GROUPS_BEGIN: clear_all_groups(); break;
    case SRV_GROUP: {
        char name[64];
        std::sscanf(body, "%10d", &id);
        copy_body_text(name, sizeof(name), body, len, 11, 63);
        add_one_contact_group(id, name);
        break;
    }
    case SRV_GROUPS_END: post_main(NM_GROUP_LIST); break;
    case SRV_CONTACTS_BEGIN: clear_all_contacts(); break;
    case SRV_CONTACT: {
        int group = 0;
        char name[64];
        std::sscanf(body, "%10d:%10d:", &id, &group);
        copy_body_text(name, sizeof(name), body, len, 22, 63);
        add_one_contact(id, group, name);
        break;
    }
    case SRV_CONTACTS_END: post_main(NM_CONTACT_LIST); break;
    case SRV_CONTACT_HOME_SERVER:
        if (id_and_word(body, 31, &id, word))
            set_contact_text(id, &contact_record::home_server, word);
        break;
    case SRV_CONTACT_EXTRA:
        if (id_and_word(body, 31, &id, word))
            set_contact_text(id, &contact_record::extra_text, word);
        break;
    case SRV_CONTACT_FIRST_NAME:
        if (id_and_word(body, 63, &id, word))
            set_contact_text(id, &contact_record::first_name, word);
        break;
    case SRV_CONTACT_LAST_NAME:
        if (id_and_word(body, 63, &id, word))
            set_contact_text(id, &contact_record::last_name, word);
        break;
    case SRV_CONTACT_EMAIL:
        if (id_and_word(body, 127, &id, word))
            set_contact_text(id, &contact_record::email, word);
        break;
    case SRV_CONTACT_RELATION: {
        int relation = 0;
        if (std::sscanf(body, "%10d:%d", &id, &relation) < 2) break;
        bool found = false;
        {
            tables_guard lk(tables_mutex());
            int i = get_contact_index(id);
            if (i >= 0) {
                g_contact[i].relation_state = relation;
                found = true;
            }
        }
        if (found && relation == REL_CONNECT_NOW)
            peer().start_contact_text_chat(id);
        break;
    }
    case SRV_REGISTER_OK: post_main(NM_REGISTER_SUCCESS); break;
    case SRV_REGISTER_ERROR: post_main(NM_REGISTER_ERROR); break;
    case SRV_REGISTER_EMAIL_EXISTS: post_main(NM_REGISTER_EMAIL_EXISTS); break;
    case SRV_FOUND_ID: {
        std::lock_guard<std::mutex> lk(g_text_mutex);
        g_found.id = body_int(body);
        break;
    }
    case SRV_FOUND_FIRST_NAME:
        store_text(g_found.first_name, sizeof(g_found.first_name), body, len, 31);
        break;
    case SRV_FOUND_LAST_NAME:
        store_text(g_found.last_name, sizeof(g_found.last_name), body, len, 31);
        break;
    case SRV_FOUND_NICK_NAME:
        store_text(g_found.nick_name, sizeof(g_found.nick_name), body, len, 127);
        break;
    case SRV_FOUND_EMAIL:
        store_text(g_found.email, sizeof(g_found.email), body, len, 127);
        post_main(NM_CONTACT_FOUND);
        break;
    case SRV_SEARCH_FAILED: post_main(NM_CONTACT_SEARCH_FAILED); break;
    case SRV_SEARCH_NOT_FOUND: post_main(NM_CONTACT_NOT_FOUND); break;
    case SRV_ADD_OK: post_main(NM_CONTACT_ADD_SUCCESS); break;
    case SRV_ADD_FAILED: post_main(NM_CONTACT_ADD_FAILED); break;
    case SRV_ADD_EXISTS: post_main(NM_CONTACT_ALREADY_EXISTS); break;
    case SRV_ADD_CONFIRM_OK: post_main(NM_CONTACT_ADD_CONFIRM_SUCCESS, body_int(body)); break;
    case SRV_ADD_CONFIRM_NO: post_main(NM_CONTACT_NOT_ADDED, body_int(body)); break;
    case SRV_REMOVE_OK: post_main(NM_CONTACT_REMOVE_SUCCESS, body_int(body)); break;
    case SRV_REMOVE_FAILED: post_main(NM_CONTACT_REMOVE_FAILED); break;
    case SRV_REMOVE_CONFIRM_OK: post_main(NM_CONTACT_REMOVE_CONFIRM_SUCCESS, body_int(body)); break;
    case SRV_REMOVE_CONFIRM_NO:
        post_main(NM_CONTACT_REMOVE_CONFIRM_NO_SUCCESS, body_int(body));
        break;
    case SRV_GROUP_ADD_OK: post_main(NM_GROUP_ADD_SUCCESS, body_int(body)); break;
    case SRV_GROUP_ADD_FAILED: post_main(NM_GROUP_ADD_FAILED); break;
    case SRV_GROUP_RENAME_OK:
        std::sscanf(body, "%10d", &id);
        store_text(g_group_update_name, sizeof(g_group_update_name),
                   len > 11 ? body + 11 : "", len > 11 ? len - 11 : 0, 127);
        {
            // The name travels with the notification (lparam points at it while the handler runs).
            auto name = std::make_shared<const std::string>(get_group_update_name());
            post_main(NM_GROUP_UPDATE_SUCCESS, id, reinterpret_cast<intptr_t>(name->c_str()), name);
        }
        break;
    case SRV_GROUP_RENAME_FAILED: post_main(NM_GROUP_UPDATE_FAILED); break;
    case SRV_GROUP_REMOVE_OK: post_main(NM_GROUP_REMOVE_SUCCESS, body_int(body)); break;
    case SRV_GROUP_REMOVE_FAILED: post_main(NM_GROUP_REMOVE_FAILED); break;
    case SRV_OFFLINE_WAITING: post_main(NM_OFFLINE_WAITING); break;
    case SRV_OFFLINE_BEGIN: post_main(NM_OFFLINE_BEGIN, body_int(body)); break;
    case SRV_OFFLINE_TEXT:
        store_text(g_offline_chunk, sizeof(g_offline_chunk), body, len, kOfflineChunkChars);
        {
            // Each chunk travels with its notification, queued in order behind the begin.
            std::string chunk = get_offline_chunk();
            post_main_bytes(NM_OFFLINE_TEXT, chunk.data(), chunk.size());
        }
        break;
    case SRV_OFFLINE_END:
        std::sscanf(body, "%10d", &id);
        post_main(NM_OFFLINE_END, id);
        break;
    case SRV_STATUS_SET: post_main(NM_SET_MY_STATUS, body_int(body)); break;
    case SRV_PEER_ADDRESS: {
        char address[51];
        std::sscanf(body, "%10d", &id);
        copy_body_text(address, sizeof(address), body, len, 11, 50);
        if (address[0] != '\0') peer().connect_to_peer(id, address);
        break;
    }
    case SRV_LOGGED_IN_ELSEWHERE: post_main(NM_LOGGED_IN_ELSEWHERE); break;
    case SRV_PEER_STATUS: do_status_notify_by_peer(body, len); break;
    case SRV_RELAY_ACK_80: set_relay_acked(0); break;
    case SRV_RELAY_ACK_443: set_relay_acked(1); break;
    case SRV_RELAY_ACK_8199: set_relay_acked(2); break;
    case SRV_SPEED_BEGIN: break;
    case SRV_SPEED_END: do_speed_test_reply_end_from_server(); break;
    case SRV_SLAVE1_ADDRESS:
    case SRV_SLAVE2_ADDRESS: {
        char address[128];
        copy_body_text(address, sizeof(address), body, len, 0, 127);
        peer().set_slave_server_address(command == SRV_SLAVE1_ADDRESS ? 0 : 1, address);
        break;
    }
    case SRV_SLAVE1_PORT1:
    case SRV_SLAVE1_PORT2:
    case SRV_SLAVE1_PORT3: peer().set_slave_server_port(0, command - SRV_SLAVE1_PORT1, board_num); break;
    case SRV_SLAVE2_PORT1:
    case SRV_SLAVE2_PORT2:
    case SRV_SLAVE2_PORT3: peer().set_slave_server_port(1, command - SRV_SLAVE2_PORT1, board_num); break;
    case SRV_SLAVE_CONNECT: peer().connect_to_slave_servers(); break;
    case SRV_SLAVE_ADDR_REQUEST: peer().do_request_slave_server_addr_from_server(body, len); break;
    case SRV_PEER_SLAVE1:
    case SRV_PEER_SLAVE2: peer().do_peer_slave_server(command, body, len); break;
    case SRV_NOTICE1:
    case SRV_NOTICE2: {
        int which = command == SRV_NOTICE1 ? 0 : 1;
        store_text(g_notices[which], sizeof(g_notices[which]), body, len, kNoticeChars);
        // The notice travels with its notification: a later one cannot overwrite it before it is shown.
        std::string notice = get_server_notice(which);
        post_main_bytes(which == 0 ? NM_SERVER_NOTICE : NM_SERVER_NOTICE2, notice.data(), notice.size());
        break;
    }
    case SRV_RELAYED_DATAGRAM: peer().do_relay_peer_udp_from_server(body, len); break;
    case SRV_EXTENSIONS: server_extensions_received(body, len); break;
    default: break;  // unknown commands were read completely and are ignored
    }
}
