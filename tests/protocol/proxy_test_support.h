// Helpers for the proxy tunnel tests: a private settings home, captured message-box texts, a
// loopback echo server standing in for the messenger server, a scripted proxy that checks the
// client's handshake bytes and answers with fixed bytes, and real proxy programs run as children.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "platform/socket.h"

class Clink_socket;

namespace proxy_test {

using bytes = std::string;

// A fresh directory used as the settings home for one test; removed afterwards.
class temp_home {
public:
    temp_home();
    ~temp_home();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Collects every message-box text while it lives.
class message_capture : public message_box_handler {
public:
    message_capture();
    ~message_capture() override;
    void show_message(const char* text) override;
    int ask_yes_no(const char* text) override;
    int ask_yes_no_cancel(const char* text) override;
    void show_text(int id, const std::vector<std::string>& args, const char* english) override;
    std::vector<std::string> texts();
    // The text id of each text so far (0: shown without one).
    std::vector<int> ids();
    // The texts so far, which are then forgotten.
    std::vector<std::string> take();

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    std::vector<int> m_ids;
};

// A kernel-chosen free TCP port on a loopback address (0 when none could be found).
uint16_t free_port(const char* address);

// Accepts connections on address:<free port> and sends every byte back; keeps what it received.
class echo_server {
public:
    explicit echo_server(const char* address);
    ~echo_server();
    uint16_t port() const { return m_port; }
    int connections() const { return m_connections.load(); }
    // Bytes received on all connections so far (copy taken under the lock).
    bytes received();

private:
    void run();
    socket_t m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    bytes m_received;
    std::thread m_thread;
};

// One step of a scripted proxy conversation.
struct step {
    enum kind { expect, reply, drip, close_now, expect_eof, echo_rest } what;
    bytes data;
    std::function<bool()> taken = {};  // drip: the client has read what was sent so far
};
inline step expect(bytes b) { return {step::expect, std::move(b)}; }
inline step reply(bytes b) { return {step::reply, std::move(b)}; }
// A slow proxy: the bytes go out one at a time, each once taken() says the client has read the
// one before.
inline step drip(bytes b, std::function<bool()> taken) {
    return {step::drip, std::move(b), std::move(taken)};
}
inline step close_now() { return {step::close_now, {}}; }
inline step expect_eof() { return {step::expect_eof, {}}; }
inline step echo_rest() { return {step::echo_rest, {}}; }

// Accepts one connection on a loopback address and plays the steps: "expect" reads exactly as
// many bytes as given and records a mismatch, "reply" writes bytes, "expect_eof" checks that the
// client closes without sending anything, "echo_rest" echoes until the client closes. Every wait
// is bounded, so a client that stalls makes the script fail instead of hanging the test.
class scripted_proxy {
public:
    scripted_proxy(const char* address, std::vector<step> steps);
    ~scripted_proxy();
    uint16_t port() const { return m_port; }
    // Waits for the script to end; returns an empty text when every step went as scripted,
    // otherwise what went wrong.
    std::string finish();

private:
    void run();
    socket_t m_listen = -1;
    uint16_t m_port = 0;
    std::vector<step> m_steps;
    std::string m_error;
    std::thread m_thread;
};

// Bytes from a list of small numbers, for binary handshakes.
bytes b(std::initializer_list<int> values);
bytes port_bytes(uint16_t port);  // network order

// The first of the given program names found in PATH, /usr/sbin or /sbin; empty when none.
std::string find_program(std::initializer_list<const char*> names);

// A real proxy program run as a child in its own process group and stopped (with every process
// it forked) on destruction.
class proxy_process {
public:
    proxy_process() = default;
    ~proxy_process();
    // Starts argv (argv[0] a full path) with its output in log_path and waits until
    // address:port accepts connections. Returns an empty text or what went wrong.
    std::string start(const std::vector<std::string>& argv, const std::string& log_path,
                      const char* address, uint16_t port);
    void stop();

private:
    pid_t m_pid = -1;
};

// The text of a file (for showing a proxy's log when it misbehaves).
std::string read_file(const std::string& path);

// Sends one framed message (scrambled body) over link to the echo server behind the tunnel and
// reads it back. Returns an empty text when it came back unchanged and unscrambles to the
// original body, otherwise what went wrong. wire, when given, receives the bytes as sent.
std::string framed_round_trip(Clink_socket& link, bytes* wire);

// link.connect_to_server() with a deadline: a connect that hangs aborts the test program, so a
// handshake stuck on a closed proxy shows as a failure instead of a stalled run.
int connect_within(Clink_socket& link, int seconds = 20);

}  // namespace proxy_test
