// The network side of the messenger server: one Asio event loop that accepts TCP connections
// (main connections and one-shot home-server connections alike), reads framed messages into the
// Core, writes the Core's replies, closes idle connections, answers signals (SIGTERM/SIGINT end
// the loop, SIGUSR1/SIGUSR2 send the notice file as 998/999) and relays chat datagrams that
// arrive on the UDP socket of the same port. Password hashing runs on a small thread pool so that
// it never stalls the loop.
#pragma once
#include <memory>
#include <string>

#include "server/core.h"
#include "server/log.h"
#include "server/store.h"

namespace srv {

struct ServerOptions {
    std::string listen = "127.0.0.1";
    int port = 9015;
    std::string advertise;  // empty: the listen address
    std::string notice_file;
    bool fast_hash = false;
    int idle_seconds = 90;
    int hash_threads = 2;
    bool handle_signals = true;  // in-process tests leave the signals to the test runner
    int relay_port = -1;  // the server's own relay on the listen address: -1 none, 0 any port
    bool extensions = true;  // --no-extensions: only the base protocol
    // Connections one source address may hold: in all, and not signed in (connecting, signing
    // in, or one-shot home-server requests). More are closed at once.
    int max_per_address = 256;
    int max_unsigned_per_address = 32;
};

class Server {
public:
    Server(Store& store, Log& log, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the TCP and UDP sockets. Returns 0 or -1 (logged).
    int start();
    // Runs the event loop until stop() or a terminating signal. Returns 0.
    int run();
    // Ends run() from any thread.
    void stop();
    // Local TCP port actually bound (useful with port 0).
    int port() const;
    // Port of the server's own relay, 0 when it does not run.
    int relay_port() const;
    Core& core();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace srv
