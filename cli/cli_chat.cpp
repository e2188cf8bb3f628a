#include "cli/cli_chat.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "cli/cli_app.h"
#include "cli/cli_video.h"
#include "cli/json_out.h"
#include "cli/notify_sink.h"
#include "peer/peer_commands.h"
#include "protocol/tables.h"

void cli_chat_window::post(int n, intptr_t wparam, intptr_t lparam, note_payload owned) {
    if (auto step = cli_route_for(n).window)
        step(m_app, m_peer, n, wparam, lparam, std::move(owned));
    else
        m_app.dispatcher.post(n, wparam, lparam, std::move(owned));
}

void print_chat_event(const chat_delivery& ev) {
    static const char* const kPaths[] = {"direct", "slave", "datagram"};
    json_line j;
    j.add("n", NM_CHAT_TEXT).add("event", ev.command == PEER_CHAT_ECHO ? "chat_delivered" : "chat_received");
    j.add("peer", ev.peer_id);
    if (ev.path >= 0 && ev.path <= 2) j.add("path", kPaths[ev.path]);
    int len = static_cast<int>(ev.body.size());
    std::string line;
    chat_style style;
    bool whole = split_chat_body(ev.body.data(), len, &line, &style);
    size_t colon = line.find(':');
    j.add("sender", colon == std::string::npos ? std::string() : line.substr(0, colon));
    j.add("text", colon == std::string::npos ? line : line.substr(colon + 1));
    j.add("length", len);
    if (whole) {
        char colour[8];
        std::snprintf(colour, sizeof(colour), "%06x", static_cast<unsigned>(style.colour));
        j.add("color", colour).add("size", style.size).add("style", style.style);
    }
    j.print();
}

bool parse_chat_request(const std::string& rest, chat_request* out, std::string* error) {
    std::istringstream in(rest);
    std::string word;
    if (!(in >> word)) {
        *error = "usage: chat ID [--color RRGGBB] [--size N] [--style biUs] TEXT";
        return false;
    }
    char* end = nullptr;
    out->peer_id = static_cast<int>(std::strtol(word.c_str(), &end, 10));
    if (*end != '\0' || out->peer_id <= 0) {
        *error = "bad contact id";
        return false;
    }
    for (;;) {
        std::streampos at = in.tellg();
        if (!(in >> word)) break;
        std::string value;
        if (word == "--color" && in >> value && value.size() == 6) {
            long rgb = std::strtol(value.c_str(), &end, 16);
            if (*end != '\0') break;
            out->attrs[0] = static_cast<unsigned char>(rgb >> 16);
            out->attrs[1] = static_cast<unsigned char>(rgb >> 8);
            out->attrs[2] = static_cast<unsigned char>(rgb);
        } else if (word == "--size" && in >> value) {
            out->attrs[3] = static_cast<unsigned char>(std::atoi(value.c_str()));
        } else if (word == "--style" && in >> value) {
            unsigned char style = 0;
            for (char c : value) style |= c == 'b' ? 1 : c == 'i' ? 2 : c == 'u' ? 4 : c == 's' ? 8 : 0;
            out->attrs[4] = style;
        } else {
            in.clear();
            in.seekg(at);
            break;
        }
    }
    std::string text;
    std::getline(in, text);
    size_t start = text.find_first_not_of(" \t");
    out->text = start == std::string::npos ? std::string() : text.substr(start);
    if (out->text.empty()) {
        *error = "nothing to send";
        return false;
    }
    return true;
}
