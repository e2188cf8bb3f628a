// The headless client's chat windows: one per peer, registered in the 20-entry chat table by the
// session controller. A text the window is told to show is printed as one JSON line with its
// sender, attributes and path; an echo of our own line prints as delivered.
//
// Threads: post() may be called on any thread; it runs the window step of the client's table
// (cli/notify_sink.h), or hands the notification, with what it owns, to the client's main thread
// through the dispatcher, where it is printed.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/commands.h"
#include "protocol/notify.h"

class cli_app;

class cli_chat_window : public chat_window {
public:
    cli_chat_window(cli_app& app, int peer) : m_app(app), m_peer(peer) {}
    void post(int n, intptr_t wparam, intptr_t lparam, note_payload owned = {}) override;
    int peer_id() const override { return m_peer; }

private:
    cli_app& m_app;
    int m_peer;
};

// Prints a received chat line or the echo of our own (runs on the main thread).
void print_chat_event(const chat_delivery& ev);

// Parses "chat ID [--color RRGGBB] [--size N] [--style [b][i][u][s]] TEXT" after the command word.
struct chat_request {
    int peer_id = 0;
    unsigned char attrs[5] = {0, 0, 0, 10, 0};
    std::string text;
};
bool parse_chat_request(const std::string& rest, chat_request* out, std::string* error);
