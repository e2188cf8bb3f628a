// Clink_socket: the client end of one TCP connection to a messenger server (and the base of the
// peer and relay connection classes). It connects directly or through a proxy, sends whole framed
// messages with scrambled bodies and a bounded retry, and receives with one-shot and exact-length
// reads.
//
// Threads: any number of threads may send on one instance (send_lock serialises the attempts);
// exactly one thread receives. my_close may run on any thread while others send or receive: it
// takes the handle away and shuts the connection down (which wakes them), then closes the handle
// only once no send or receive call is inside it, so no call ever runs on a closed handle or on
// one the system has already given to another connection.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/sync.h"

constexpr int kSocketBufferBytes = 81920;
constexpr int kSendRetryLimit = 15;
constexpr int kSendRetrySleepMs = 200;
constexpr int kSendSelectMs = 2000;
constexpr int kSendLockWaitMs = 3000;

class Clink_socket {
public:
    Clink_socket();
    virtual ~Clink_socket();
    Clink_socket(const Clink_socket&) = delete;
    Clink_socket& operator=(const Clink_socket&) = delete;

    virtual int my_close();

    // Connects (closing a previous connection first). Connects on one instance never overlap: a
    // call made while another thread connects waits for that connect and returns its result, so
    // no handle is made and then lost.
    int connect_to_server();
    // Connects unless connected already, serialised as above; host and port (when host is given)
    // are set inside the serialised part, where every connect reads them.
    int ensure_connected(const char* host = nullptr, uint16_t port = 0);
    // The local address of the current connection (guarded: connects write it).
    std::string local_address_text();
    // Called on the thread of send_with_reconnect after it connected again (connected true) or
    // failed to (false), before the failed message is sent again and before any other thread's
    // send that waited for this connect. Set before the connection is shared between threads.
    using reconnect_hook = void (*)(Clink_socket& link, bool connected);
    std::atomic<reconnect_hook> on_reconnect{nullptr};
    // While set, send_with_reconnect gives up on a failed send instead of connecting again: the
    // owner makes the connection itself (the main connection while a lost session is resumed).
    std::atomic<bool> hold_reconnect{false};
    int my_send_fixed_len(const char* data, int length);
    int my_send(const char* data, int length) { return my_send_fixed_len(data, length); }
    int my_send_fixed_len_from(const char* data, int length, int from);
    void send_with_reconnect(const char* data, int length);
    int my_recv(char* buffer, int max);
    // Reads exactly n bytes. Returns the count of the final receive (positive), 0 for n = 0, or a
    // negative value on failure, including the peer closing before all n bytes arrived.
    int my_recv_fixed_len(char* buffer, int n);
    // Reads and throws away exactly n bytes (the body of a message that cannot be held), so the
    // stream stays in step. Returns 0, or -1 when the connection failed first.
    int skip_fixed_len(int n);
    // Sends length bytes exactly as given (no scrambling): proxy handshakes. Returns the count
    // sent or a negative value.
    int send_raw(const char* data, int length);
    // Changes whenever the connection's handle is taken away (see take_handle).
    uint64_t handle_serial() const { return m_handle_serial.load(); }
    // The writer of a connection's send queue: sends the whole message (scrambled from `from` on,
    // as my_send_fixed_len_from does) while the connection still holds the handle of serial, else
    // fails. A failure is returned, never retried, and the connection is left for its owner to
    // close. Returns length or -1.
    int send_on_handle(uint64_t serial, const char* data, int length, int from);
    // The same for a message the drainer owns: scrambled in place instead of in a copy, and back
    // to its plain bytes when the send fails (so that it can go another way).
    int send_owned_on_handle(uint64_t serial, std::vector<char>& message, int from);
    // True when the other side has closed the connection, or none is open (see peer_has_closed).
    bool peer_gone();
    int set_buffer_sizes();
    int log_socket_error();

    // Proxy tunnelling (proxy.cpp).
    int load_proxy_settings();
    int connect_through_proxy();
    int connect_http_proxy();
    int connect_socks4_proxy();
    int connect_socks5_proxy();

    // Takes over an accepted connection (listeners of the peer and relay servers).
    void attach(socket_t accepted);

    // Closing in two steps, for tables that must take the handle out under their own lock:
    // take_handle empties the connection (readers bound to it fail from then on) and returns the
    // handle; close_taken shuts it down, waits until no call is inside it and closes it.
    socket_t take_handle();
    void close_taken(socket_t s);

    // Binds the calling thread as the reader of the handle this connection holds now. From then
    // on this thread's receive calls and waits fail once that handle was taken away, even when
    // the connection holds a newer handle by then (a table slot taken by another connection), so
    // a reader never waits on or reads from a handle that is not its own.
    void bind_reader();
    // Waits until the bound handle (or the current one, for an unbound thread) has data or was
    // shut down: 1 ready, 0 time-out, -1 closed or failed.
    int wait_readable_for(int ms);

    char name[256];
    char server_host[100];
    char local_address[100];
    uint16_t server_port = 0;
    std::atomic<int> connected{0};
    std::atomic<uint32_t> last_send_tick{0};
    std::atomic<socket_t> sock{0};
    Ctimed_mutex send_lock;
    char proxy_address[100];
    int proxy_port = 0;
    int use_proxy = 0;
    char proxy_user_name[128];
    char proxy_password[128];
    int proxy_type = 0;
    int report_resolve_error = 1;
    // Whether a failed receive reaches the user (once per connection) or is only logged. Only
    // the main server connection reports; peer, relay and slave connections fail quietly.
    int report_receive_failure = 0;
    int retry_on_error = 1;
    std::atomic<int> tried_times{0};
    std::atomic<int> retry_count{0};

protected:
    // Waits until the socket can take more bytes: 1 ready, 0 time-out, negative failure.
    // Tests override it to inject select failures.
    virtual int wait_send_ready(socket_t s, int ms);

private:
    // Held shared around each send and receive call on the handle, exclusively around its close.
    std::shared_mutex m_fd_lock;
    // Connect serialisation: one connect at a time, the others wait for its round to end.
    std::mutex m_connect_mutex;
    std::condition_variable m_connect_done;
    bool m_connecting = false;
    uint64_t m_connect_round = 0;
    int m_connect_result = -1;
    // Guards local_address (and server_host/server_port when set through ensure_connected).
    std::mutex m_address_mutex;
    // Under m_connect_mutex: waits for a connect in progress and returns true with its result
    // in *result, or claims the next connect (false).
    bool join_or_claim_connect(std::unique_lock<std::mutex>& lk, int* result);
    void finish_connect(int result);
    int connect_now();
    void set_local_address_from(socket_t s);
    // Changes whenever a handle is taken away; a bound reader compares it with its own.
    std::atomic<uint64_t> m_handle_serial{1};
    // The handle the calling thread may use: the current one, or 0 when the thread is bound to
    // a handle that was taken away. Called with m_fd_lock held shared.
    socket_t usable_handle() const;
    int send_scrambled(const char* data, int length, int from);
    // Reads exactly n bytes without scrambling logic; shared by the exact-length and proxy reads.
    int recv_exact(char* buffer, int n, bool show_failure);
    void clear_after_failed_connect(socket_t s);
    // Closes what this link held and connects a new socket to host:port, not yet published.
    // Returns the handle, or -1 (said in a box when the socket cannot be made, and when the host
    // cannot be resolved and report_resolve).
    socket_t open_connection(const char* host, uint16_t port, bool report_resolve);
    // Logs a failed receive and, on a reporting connection, tells the user once per handle.
    void receive_failed();
    std::atomic<uint64_t> m_failure_reported{0};  // serial of the handle whose failure was shown
    friend class proxy_reader;
};

// Connects link, named who, to a contact's home server (the server port) for one exchange: a
// one-shot connection gives up instead of retrying sends for seconds, and a host that does not
// resolve is only logged unless report_resolve_error. Returns true when connected.
bool connect_home_server(Clink_socket& link, const char* host, const char* who,
                         bool report_resolve_error = false);
