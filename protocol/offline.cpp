#include "protocol/offline.h"

#include <ctime>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/debug_log.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/extensions.h"
#include "protocol/framing.h"
#include "protocol/message_reader.h"
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

namespace {
// Reads the home server's answers until its receipt for the message just sent.
int await_offline_receipt(Clink_socket& link) {
    std::vector<char> buffer(kRecvBufSize);
    const uint32_t start = get_tick_count();
    for (;;) {
        const uint32_t spent = get_tick_count() - start;
        if (spent >= static_cast<uint32_t>(kOfflineReceiptMs)) break;
        int ready = link.wait_readable_for(kOfflineReceiptMs - static_cast<int>(spent));
        if (ready <= 0) break;
        msg_header h;
        int r = read_server_message(link, buffer.data(), &h);
        if (r == READ_OK && h.command == SRV_OFFLINE_STORED) return 0;
        if (r == READ_OK && h.command == SRV_OFFLINE_REFUSED) {
            log_line("the home server refused the offline message\r\n");
            return OFFLINE_REFUSED;
        }
        if (r == READ_BROKEN) break;
    }
    log_line("no receipt for the offline message\r\n");
    return OFFLINE_NOT_CONFIRMED;
}
}  // namespace

int send_offline_message(int index, const char* header, const char* text) {
    if (index < 0 || index >= kMaxContacts) {
        log_line("index:%d out of range 0-%d in send_offline_message\r\n", index, kMaxContacts);
        return OFFLINE_NOT_REACHED;
    }
    contact_record rec;
    if (!contact_at(index, &rec)) {
        log_line("record %d not in use in send_offline_message\r\n", index);
        return OFFLINE_NOT_REACHED;
    }
    const bool receipt = extension_usable(kExtOfflineReceipt, rec.home_server);
    Clink_socket link;
    if (!connect_home_server(link, rec.home_server, "offline message", true)) {
        log_line("could not connect to %s in send_offline_message\r\n", rec.home_server);
        link.my_close();
        return OFFLINE_NOT_REACHED;
    }
    char ids[32];
    std::snprintf(ids, sizeof(ids), "%10d:%10d", rec.contact_id, g_user_id.load());
    if (receipt) general_str_command_to_socket(CMD_OFFLINE_RECEIPT, "", &link);
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
    int result = receipt ? await_offline_receipt(link) : 0;
    link.my_close();
    return result;
}

user_text check_offline_message(int contact_id, const std::string& text) {
    if (text.size() > static_cast<size_t>(kOfflineMaxChars)) return make_text(TXT_OFFLINE_TOO_LONG);
    if (contact_id <= 0) {
        log_line("m_to_contact_id < 0 in OnBnCkuckedOk.\r\n");
        return make_text(TXT_OFFLINE_NO_CONTACT);
    }
    if (get_contact_index(contact_id) < 0) {
        log_line("did not find contact_id:%d in g_contact array.\r\n", contact_id);
        return make_text(TXT_OFFLINE_CONTACT_UNKNOWN);
    }
    return {};
}

int send_offline_to_contact(int contact_id, const std::string& text, user_text* error) {
    user_text refusal = check_offline_message(contact_id, text);
    if (refusal.empty()) {
        session_texts t = get_session_texts();
        std::string header =
            build_offline_header(t.my_name1, t.my_name2, t.my_name3, current_offline_stamp());
        int index = get_contact_index(contact_id);
        int r = index >= 0 ? send_offline_message(index, header.c_str(), text.c_str())
                           : OFFLINE_NOT_REACHED;
        if (r == 0) return 0;
        if (r == OFFLINE_REFUSED)
            refusal = make_text(TXT_OFFLINE_REFUSED);
        else if (r == OFFLINE_NOT_CONFIRMED)
            refusal = make_text(TXT_OFFLINE_NOT_CONFIRMED);
        else  // the record may have gone meanwhile; otherwise its home server did not answer
            refusal = make_text(index < 0 ? TXT_OFFLINE_CONTACT_UNKNOWN
                                          : TXT_PEER_SERVER_CONNECT_FAILED);
    }
    if (error) *error = refusal;
    return -1;
}

std::string offline_sender_label(int sender_id) {
    contact_record rec;
    if (!contact_by_id(sender_id, &rec)) return "Unknown";
    char label[300];
    std::snprintf(label, sizeof(label), "%s %s(%s)", rec.first_name, rec.last_name, rec.email);
    return label;
}
