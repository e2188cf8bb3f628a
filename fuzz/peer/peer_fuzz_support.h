// What the peer targets share: a settings home that holds nothing (no proxy, no user values), a
// few contacts without a home server (nothing leaves the process as a datagram), and a main
// window that opens a chat window on request. A chat window shown a text reads every byte of it,
// so a body handed over with a wrong length shows up as a bad read. reset() puts the contact,
// chat-window and file-transfer tables back as they were before the first input.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "peer/file_transfer.h"
#include "platform/paths.h"
#include "protocol/notify.h"
#include "protocol/tables.h"

namespace peerfuzz {

constexpr int kContactIds[] = {1001, 1002, 1003};
// Senders a command may claim: the contacts, nobody and strangers.
constexpr int kSenderIds[] = {1001, 1002, 1003, 0, -1, 4242, 2147483647};

inline int sender_id(uint8_t pick) {
    return kSenderIds[pick % (sizeof(kSenderIds) / sizeof(kSenderIds[0]))];
}

class fuzz_chat : public chat_window {
public:
    explicit fuzz_chat(int peer) : m_peer(peer) {}
    void post(int n, intptr_t w, intptr_t l, note_payload = {}) override {
        if (n != NM_CHAT_TEXT) return;
        // The window copies the text it shows.
        if (l < 0) std::abort();
        std::vector<char> copy(static_cast<size_t>(l));
        if (l > 0) std::memcpy(copy.data(), reinterpret_cast<const char*>(w), copy.size());
    }
    int peer_id() const override { return m_peer; }

private:
    int m_peer;
};

class fuzz_main : public notify_target {
public:
    // The main window's side of a chat line: opens the window when none is open, hands it on.
    void post(int n, intptr_t w, intptr_t l, note_payload = {}) override {
        if (n != NM_PEER_CHAT_LINE) return;
        int peer = static_cast<int>(w);
        if (!get_chat_dlg_from_peer_id(peer)) {
            auto chat = std::make_unique<fuzz_chat>(peer);
            if (add_chat_dlg(chat.get()) >= 0) m_chats.push_back(std::move(chat));
        }
        hand_chat_delivery(get_chat_dlg_from_peer_id(peer), *reinterpret_cast<const chat_delivery*>(l));
    }
    void close_chats() {
        take_all_chat_dlgs();
        m_chats.clear();
    }

private:
    std::vector<std::unique_ptr<fuzz_chat>> m_chats;
};

inline fuzz_main& main_window() {
    static fuzz_main* w = [] {
        set_home_dir("/nonexistent/parlo-fuzz-home");
        auto* m = new fuzz_main;
        g_main_dlg = m;
        return m;
    }();
    return *w;
}

// Before each input: the contacts alone in their table, no chat window, no transfer state.
inline void reset() {
    main_window().close_chats();
    stop_file_transfers(0);
    clear_all_tables();
    for (int id : kContactIds) add_one_contact(id, 0, "contact");
}

}  // namespace peerfuzz
