// Shared fixture for the peer tests: a private home, the peer service on its own loopback
// address, a main window that records notifications and opens chat windows on request, and raw
// loopback peers.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/socket.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/notify.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "tests/support/loopback.h"

namespace peertest {
using testsupport::wait_until;

struct note {
    int n;
    intptr_t w;
    intptr_t l;
    std::string body;  // copied for notification 7
};

// Records what the core raises; runs handlers on the calling thread (a direct front end).
class recorder {
public:
    void add(note n) {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_notes.push_back(std::move(n));
        m_cv.notify_all();
        testsupport::state_changed();
    }
    // Waits until a notification n arrived (and returns it).
    bool wait_for(int n, note* out = nullptr, int ms = 5000) {
        std::unique_lock<std::mutex> lk(m_mutex);
        bool ok = m_cv.wait_for(lk, std::chrono::milliseconds(ms), [&] {
            for (auto& x : m_notes)
                if (x.n == n) return true;
            return false;
        });
        if (ok && out)
            for (auto& x : m_notes)
                if (x.n == n) {
                    *out = x;
                    break;
                }
        return ok;
    }
    int count(int n) {
        std::lock_guard<std::mutex> lk(m_mutex);
        int c = 0;
        for (auto& x : m_notes) c += x.n == n;
        return c;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<note> m_notes;
};

class test_chat : public chat_window {
public:
    test_chat(int peer, recorder* rec) : m_peer(peer), m_rec(rec) {}
    void post(int n, intptr_t w, intptr_t l, note_payload = {}) override {
        std::string body = n == 7 ? std::string(reinterpret_cast<const char*>(w), static_cast<size_t>(l)) : "";
        m_rec->add({n, w, l, body});
    }
    int peer_id() const override { return m_peer; }

private:
    int m_peer;
    recorder* m_rec;
};

class test_main : public notify_target {
public:
    explicit test_main(recorder* rec) : m_rec(rec) {}
    bool open_chats = true;
    // A chat line opens the peer's window (unless open_chats is off) and is handed on, as the
    // main window's queue does.
    void post(int n, intptr_t w, intptr_t l, note_payload = {}) override {
        m_rec->add({n, w, l, {}});
        if (n != NM_PEER_CHAT_LINE) return;
        int peer = static_cast<int>(w);
        if (open_chats && !get_chat_dlg_from_peer_id(peer)) {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_chats.push_back(std::make_unique<test_chat>(peer, m_rec));
            add_chat_dlg(m_chats.back().get());
        }
        hand_chat_delivery(get_chat_dlg_from_peer_id(peer), *reinterpret_cast<const chat_delivery*>(l));
    }

private:
    recorder* m_rec;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<test_chat>> m_chats;
};

// A raw peer: a plain socket speaking the framed protocol.
struct raw_peer {
    socket_t fd = -1;
    ~raw_peer() { close_socket(fd); }
    bool connect_to(const char* address, uint16_t port) {
        fd = tcp_socket();
        struct in_addr a;
        return fd > 0 && resolve_ipv4(address, &a) == 0 && connect_ipv4(fd, a, port) == 0;
    }
    bool send_cmd(int command, const std::string& body, int board = 0) {
        std::vector<char> msg(kHeaderLen + body.size());
        build_message(msg.data(), static_cast<int>(msg.size()), 0, board, command, body.data(),
                      static_cast<int>(body.size()));
        xor_scramble(msg.data() + kHeaderLen, static_cast<long>(body.size()));
        return testsupport::write_all(fd, msg.data(), msg.size());
    }
    bool send_raw(const std::string& bytes) { return testsupport::write_all(fd, bytes.data(), bytes.size()); }
    // Reads one message; false on time-out or close.
    bool recv_cmd(msg_header* h, std::string* body, int ms = 5000) {
        char head[kHeaderLen + 1] = {};
        if (!testsupport::read_exact(fd, head, kHeaderLen, ms)) return false;
        if (parse_header(head, h) != 0) return false;
        body->assign(static_cast<size_t>(h->len), '\0');
        if (h->len > 0 && !testsupport::read_exact(fd, body->data(), body->size(), ms)) return false;
        xor_scramble(body->data(), h->len);
        return true;
    }
    // Reads messages until one with the command arrives (skipping keep-alives and others).
    bool expect(int command, std::string* body = nullptr, int ms = 5000) {
        msg_header h;
        std::string b;
        while (recv_cmd(&h, &b, ms))
            if (h.command == command) {
                if (body) *body = b;
                return true;
            }
        return false;
    }
};

// Each test case runs as its own process, possibly at the same time as the others, and the peer
// listener's port is fixed: a case takes its own loopback block PREFIX.N.x, N from its name.
inline std::string test_block(const char* prefix) {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    unsigned h = 5381;
    for (const char* p = name; *p; p++) h = h * 33 + static_cast<unsigned char>(*p);
    return std::string(prefix) + "." + std::to_string(h % 250 + 1) + ".";
}

inline std::string id_body(int id) {
    char b[16];
    std::snprintf(b, sizeof(b), "%10d", id);
    return b;
}

}  // namespace peertest
