#include "protocol/offline.h"

#include <ctime>
#include <cstdio>
#include <cstring>

#include "platform/message_box.h"
#include "platform/text.h"
#include "protocol/commands.h"
#include "protocol/debug_log.h"
#include "protocol/framing.h"
#include "protocol/server_link.h"
#include "protocol/session.h"
#include "protocol/tables.h"

namespace {
const char kEndMarker[] = "\r\n\r\n\r\n";
}

offline_stamp current_offline_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm;
    if (localtime_r(&now, &tm) == nullptr) return offline_stamp{0, 0, 0, -1, -1, -1};
    return offline_stamp{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                         tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::string build_offline_header(const char* name1, const char* name2, const char* name3,
                                 const offline_stamp& w) {
    char text[256];
    std::snprintf(text, sizeof(text), "Message by %s %s(%s):\r\n%d-%02d-%02d %02d:%02d:%02d\r\n",
                  name1, name2, name3, w.year, w.month, w.day, w.hour, w.minute, w.second);
    return text;
}

int send_offline_message(int index, const char* header, const char* text) {
    if (index < 0 || index >= kMaxContacts) {
        log_line("index:%d out of range 0-%d in send_offline_message\r\n", index, kMaxContacts);
        return -1;
    }
    contact_record rec;
    if (!contact_at(index, &rec)) {
        log_line("record %d not in use in send_offline_message\r\n", index);
        return -1;
    }
    Clink_socket link;
    copy_text(link.name, "offline message");
    copy_text(link.server_host, rec.home_server);
    link.server_port = kServerPort;
    link.retry_on_error = 0;
    if (link.connect_to_server() != 0) {
        show_message("Failed to connect to peer's server.");
        link.my_close();
        return -1;
    }
    char ids[32];
    std::snprintf(ids, sizeof(ids), "%10d:%10d", rec.contact_id, g_user_id.load());
    general_str_command_to_socket(CMD_OFFLINE_BEGIN, ids, &link);
    general_str_command_to_socket(CMD_OFFLINE_TEXT, header, &link);
    size_t total = std::strlen(text);
    for (size_t at = 0; at < total; at += kOfflinePieceBytes) {
        size_t n = total - at < static_cast<size_t>(kOfflinePieceBytes) ? total - at
                                                                        : kOfflinePieceBytes;
        general_buf_command_to_socket(CMD_OFFLINE_TEXT, text + at, static_cast<int>(n), &link);
    }
    general_str_command_to_socket(CMD_OFFLINE_TEXT, kEndMarker, &link);
    general_str_command_to_socket(CMD_OFFLINE_END, ids, &link);
    link.my_close();
    return 0;
}

int send_offline_to_contact(int contact_id, const std::string& text) {
    if (text.size() > static_cast<size_t>(kOfflineMaxChars)) {
        show_message("Could not input more than 10000 charactors.");
        return -1;
    }
    if (contact_id <= 0) {
        show_message("No contact selected when sending.");
        log_line("m_to_contact_id < 0 in OnBnCkuckedOk.\r\n");
        return -1;
    }
    int index = get_contact_index(contact_id);
    if (index < 0) {
        log_line("did not find contact_id:%d in g_contact array.\r\n", contact_id);
        show_message("failed to send offline message, did not find contact in contact list.");
        return -1;
    }
    session_texts t = get_session_texts();
    std::string header =
        build_offline_header(t.my_name1, t.my_name2, t.my_name3, current_offline_stamp());
    return send_offline_message(index, header.c_str(), text.c_str());
}

std::string offline_sender_label(int sender_id) {
    contact_record rec;
    if (!contact_by_id(sender_id, &rec)) return "Unknown";
    char label[300];
    std::snprintf(label, sizeof(label), "%s %s(%s)", rec.first_name, rec.last_name, rec.email);
    return label;
}
