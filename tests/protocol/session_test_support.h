// Helpers for the session tests: a scripted messenger server on a loopback address and port 9015
// that reads and writes framed, scrambled messages, and a main-window stand-in that records every
// notification.
#pragma once
#include <cstdint>
#include <mutex>
#include <condition_variable>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "protocol/framing.h"
#include "protocol/notify.h"

namespace session_test {

struct message {
    int session = 0;
    int board = 0;
    int command = 0;
    std::string body;
};

// One listening socket; accept() takes the next connection, which then becomes the current one.
class fake_server {
public:
    explicit fake_server(const char* address);
    ~fake_server();
    bool listening() const { return m_listen > 0; }
    // Waits at most ms for a connection. Returns false on time-out.
    bool accept(int ms = 3000);
    // Reads one message from the current connection (false on time-out or close).
    bool read(message* out, int ms = 3000);
    // Reads until a message with this command arrives; the others are kept in skipped().
    bool read_until(int command, message* out, int ms = 3000);
    void send(int command, const std::string& body = "", int board = 0, int session = 0);
    void send_raw(const std::string& bytes);
    void close_connection();
    // True when the client closed the current connection within ms.
    bool peer_closed(int ms = 3000);
    std::vector<message> skipped;

private:
    bool read_exact(char* buf, int n, int ms);
    socket_t m_listen = -1;
    socket_t m_conn = -1;
};

// Records notifications; sent ones run `on_send` on the sender's thread before returning.
class recorder : public notify_target {
public:
    struct note {
        int n;
        intptr_t w;
        intptr_t l;
        note_payload owned;  // kept, so what w or l point at can be read later
    };
    void post(int n, intptr_t w, intptr_t l, note_payload owned = {}) override;
    bool wait_for(int n, int ms = 3000, note* out = nullptr);
    // Waits until at least `times` notifications n have come.
    bool wait_count(int n, int times, int ms = 5000);
    std::vector<note> notes();
    int count(int n);
    // The texts of the offline chunks (36) received so far, read from their own notifications.
    std::vector<std::string> chunks();

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<note> m_notes;
};

// Contents of the debug log written so far.
std::string read_log();

}  // namespace session_test
