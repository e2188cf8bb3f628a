// The headless client's chat windows: one per peer, registered in the 20-entry chat table by the
// session controller. A text the window is told to show is printed as one JSON line with its
// sender, attributes and path; an echo of our own line prints as delivered.
//
// Threads: send() is called on a reader thread of the peer layer; it hands the text to the client's
// main thread through the dispatcher and waits there, so the body stays valid while it is printed.
#pragma once
#include <cstdint>
#include <string>

#include "protocol/commands.h"
#include "protocol/notify.h"

class cli_app;

struct cli_chat_event {
    int peer_id;
    const char* body;
    int len;
    int path;     // peer path, -1 when unknown
    int command;  // 210 received, 211 our own line delivered
};

class cli_chat_window : public chat_window {
public:
    cli_chat_window(cli_app& app, int peer) : m_app(app), m_peer(peer) {}
    void post(int n, intptr_t wparam, intptr_t lparam) override;
    void send(int n, intptr_t wparam, intptr_t lparam) override;
    int peer_id() const override { return m_peer; }

private:
    cli_app& m_app;
    int m_peer;
};

// Prints a chat event (runs on the main thread).
void print_chat_event(const cli_chat_event& ev);

// Parses "chat ID [--color RRGGBB] [--size N] [--style [b][i][u][s]] TEXT" after the command word.
struct chat_request {
    int peer_id = 0;
    unsigned char attrs[5] = {0, 0, 0, 10, 0};
    std::string text;
};
bool parse_chat_request(const std::string& rest, chat_request* out, std::string* error);
