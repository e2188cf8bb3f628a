// The session controller's actions that run on workers, and their reports.
#include <cassert>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/tick.h"
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
        report(std::move(r));
    });
}

void chat_style_bytes(const chat_style& s, unsigned char out[5]) {
    out[0] = static_cast<unsigned char>(s.colour >> 16);
    out[1] = static_cast<unsigned char>(s.colour >> 8);
    out[2] = static_cast<unsigned char>(s.colour);
    out[3] = static_cast<unsigned char>(s.size);
    out[4] = static_cast<unsigned char>(s.style);
}

chat_style chat_style_from_bytes(const unsigned char a[5]) {
    chat_style s;
    s.colour = static_cast<uint32_t>(a[0]) << 16 | static_cast<uint32_t>(a[1]) << 8 | a[2];
    s.size = a[3];
    s.style = a[4];
    return s;
}

bool split_chat_body(const char* body, int len, std::string* text, chat_style* style) {
    if (!body || len < 6) return false;
    *style = chat_style_from_bytes(reinterpret_cast<const unsigned char*>(body + len - 5));
    text->assign(body, strnlen(body, static_cast<size_t>(len - 5)));
    return true;
}

void session_controller::report(action_result r) {
    int action = r.action;
    intptr_t seq;
    {
        std::lock_guard<std::mutex> lk(m_results_mutex);
        seq = m_next_seq++;
        m_results.emplace_back(seq, std::move(r));
    }
    post_main(NM_ACTION_DONE, seq, action);
}

user_text session_controller::action_done(intptr_t seq) {
    std::lock_guard<std::mutex> lk(m_results_mutex);
    for (auto it = m_results.begin(); it != m_results.end(); ++it)
        if (it->first == seq) {
            m_last_action = std::move(it->second);
            m_results.erase(it);
            // A line that could not be sent is reported already; it waits for no echo.
            if (m_last_action.action == ACTION_CHAT_LINE && m_last_action.code != 0)
                std::erase_if(m_unacked, [&](const unacked_line& u) { return u.line == m_last_action.line; });
            return m_last_action.text;
        }
    return {};
}

void session_controller::line_echoed(const chat_delivery& d) {
    // The echo carries the line as the peer received it (cut to the wire's limit): the oldest
    // waiting line to that peer that begins with it.
    std::string echoed(d.body.c_str());
    if (echoed.empty()) return;
    for (auto it = m_unacked.begin(); it != m_unacked.end(); ++it)
        if (it->peer_id == d.peer_id && it->text.compare(0, echoed.size(), echoed) == 0) {
            m_unacked.erase(it);
            return;
        }
}

void session_controller::report_undelivered_lines(uint32_t now) {
    check_owner("report_undelivered_lines");
    while (!m_unacked.empty() && now - m_unacked.front().sent > kChatEchoWaitMs) {
        unacked_line u = std::move(m_unacked.front());
        m_unacked.erase(m_unacked.begin());
        log_line("no echo for a chat line to peer_id:%d\r\n", u.peer_id);
        action_result r;
        r.action = ACTION_CHAT_LINE;
        r.peer_id = u.peer_id;
        r.code = -1;
        r.line = u.line;
        contact_record c;
        if (contact_by_id(u.peer_id, &c))
            r.text = make_text(TXT_CHAT_SEND_FAILED, {c.first_name, c.last_name, c.email});
        report(std::move(r));
    }
}

int session_controller::send_chat_line(int peer_id, const std::string& text,
                                       const chat_style& style) {
    check_owner("send_chat_line");
    if (text.empty() || get_contact_index(peer_id) < 0) return -1;
    // Typing into a chat window is what opens it; the line shows when its echo returns.
    open_chat(peer_id);
    unsigned char attrs[5];
    chat_style_bytes(style, attrs);
    std::string name = get_session_texts().my_name3;
    uint64_t line = m_next_line++;
    // Waiting for its echo from now: the echo may come back before this worker reports.
    m_unacked.push_back(unacked_line{line, peer_id, name + ":" + text, get_tick_count()});
    int queued = start_action(peer_id, ACTION_CHAT_LINE, peer_id, [peer_id, text, name, attrs, line] {
        action_result r;
        r.line = line;
        if (peer().send_chat_line(peer_id, name.c_str(), text.c_str(), attrs) != 0) {
            r.code = -1;
            contact_record c;
            if (contact_by_id(peer_id, &c))
                r.text = make_text(TXT_CHAT_SEND_FAILED, {c.first_name, c.last_name, c.email});
        }
        return r;
    });
    if (queued != 0) m_unacked.pop_back();
    return queued;
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
    end_resume(false);
    // Every home server learns that this user went offline (on jobs of their own).
    if (m_housekeeping && g_logged_in.load() == 1) m_housekeeping->broadcast_offline();
    if (!m_lanes.stop(ms)) log_line("session actions still running at shutdown\r\n");
}
