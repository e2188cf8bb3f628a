// The session controller's actions that run on workers, and their reports.
#include <cassert>

#include "platform/debug_log.h"
#include "protocol/housekeeping.h"
#include "protocol/notify.h"
#include "protocol/offline.h"
#include "protocol/peer_dispatch.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"

session_controller::~session_controller() { m_lanes.stop(15000); }

void session_controller::check_owner(const char* where) const {
#ifndef NDEBUG
    if (std::this_thread::get_id() != m_owner) {
        log_line("session_controller::%s called off its owner thread\r\n", where);
        assert(!"session_controller entry point called off its owner thread");
    }
#else
    (void)where;
#endif
}

int session_controller::start_action(int lane, int action, int peer_id,
                                     std::function<action_result()> fn) {
    if (m_shut_down) return -1;
    return m_lanes.run(lane, [this, action, peer_id, fn = std::move(fn)] {
        action_result r = fn();
        r.action = action;
        r.peer_id = peer_id;
        intptr_t seq;
        {
            std::lock_guard<std::mutex> lk(m_results_mutex);
            seq = m_next_seq++;
            m_results.emplace_back(seq, std::move(r));
        }
        post_main(NM_ACTION_DONE, seq, action);
    });
}

user_text session_controller::action_done(intptr_t seq) {
    std::lock_guard<std::mutex> lk(m_results_mutex);
    for (auto it = m_results.begin(); it != m_results.end(); ++it)
        if (it->first == seq) {
            m_last_action = std::move(it->second);
            m_results.erase(it);
            return m_last_action.text;
        }
    return {};
}

int session_controller::send_chat_line(int peer_id, const std::string& text,
                                       const chat_style& style) {
    check_owner("send_chat_line");
    if (text.empty() || get_contact_index(peer_id) < 0) return -1;
    // Typing into a chat window is what opens it; the line shows when its echo returns.
    open_chat(peer_id);
    unsigned char attrs[5] = {static_cast<unsigned char>(style.colour >> 16),
                              static_cast<unsigned char>(style.colour >> 8),
                              static_cast<unsigned char>(style.colour),
                              static_cast<unsigned char>(style.size),
                              static_cast<unsigned char>(style.style)};
    std::string name = get_session_texts().my_name3;
    return start_action(peer_id, ACTION_CHAT_LINE, peer_id, [peer_id, text, name, attrs] {
        action_result r;
        if (peer().send_chat_line(peer_id, name.c_str(), text.c_str(), attrs) != 0) {
            r.code = -1;
            contact_record c;
            if (contact_by_id(peer_id, &c))
                r.text = make_text(TXT_CHAT_SEND_FAILED, {c.first_name, c.last_name, c.email});
        }
        return r;
    });
}

int session_controller::knock(int peer_id) {
    check_owner("knock");
    if (get_contact_index(peer_id) < 0) return -1;
    return start_action(peer_id, ACTION_KNOCK, peer_id, [peer_id] {
        action_result r;
        if (peer().knock(peer_id) != 0) {
            r.code = -1;
            r.text = make_text(TXT_PEER_CONNECT_FAILED);
        }
        return r;
    });
}

int session_controller::send_offline_message(int peer_id, const std::string& text) {
    check_owner("send_offline_message");
    user_text refusal = check_offline_message(peer_id, text);
    if (!refusal.empty()) {
        m_asker->show_text(refusal);
        return -1;
    }
    return start_action(peer_id, ACTION_OFFLINE_MESSAGE, peer_id, [peer_id, text] {
        action_result r;
        user_text error;
        if (send_offline_to_contact(peer_id, text, &error) != 0) {
            r.code = -1;
            r.text = error;
        }
        return r;
    });
}

void session_controller::shutdown(uint32_t ms) {
    check_owner("shutdown");
    if (m_shut_down) return;
    m_shut_down = true;
    // Every home server learns that this user went offline (on jobs of their own).
    if (m_housekeeping && g_logged_in.load() == 1) m_housekeeping->broadcast_offline();
    if (!m_lanes.stop(ms)) log_line("session actions still running at shutdown\r\n");
}
