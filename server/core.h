// The messenger server's command logic, independent of sockets: it receives parsed messages for
// numbered connections and answers through a Transport. The network layer (server.h) and the
// tests and fuzzers drive the same object. Everything runs on one thread; only password hashing
// may be handed to other threads through the Offload hook, whose continuation must come back on
// the thread that drives the Core.
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "protocol/framing.h"
#include "server/log.h"
#include "server/store.h"

namespace srv {

using ConnId = uint64_t;

class Transport {
public:
    virtual ~Transport() = default;
    // Queues one complete framed message for the connection.
    virtual void send(ConnId id, std::string bytes) = 0;
    // Closes the connection once its queued bytes are written. on_close follows later.
    virtual void close(ConnId id) = 0;
    // Tries a TCP connection to address:port, bounded by a time-out, and reports whether it was
    // accepted; done runs later on the Core's thread. Without a network nothing is reachable.
    virtual void probe(const std::string& address, int port, std::function<void(bool)> done) {
        (void)address;
        (void)port;
        done(false);
    }
};

// Runs work somewhere, then done on the Core's thread. Empty: both run at once, in order.
using Offload = std::function<void(std::function<void()> work, std::function<void()> done)>;

struct CoreOptions {
    std::string advertise = "127.0.0.1";  // home-server address given to clients (174)
    bool fast_hash = false;               // minimum Argon2id limits
    int relay_port = 0;  // the server's own relay listens on `advertise` at this port; 0: none
    bool extensions = true;  // answer 1100 and take 1102 (off: only the base protocol)
    // Connections of one source address: in all, and not signed in. on_open closes the others.
    int max_per_address = 256;
    int max_unsigned_per_address = 32;
};

// Frames one message as the server sends it: header and scrambled body.
std::string frame_message(int command, int board_num, std::string_view body);

class Core {
public:
    Core(Store& store, Transport& transport, Log& log, CoreOptions options, Offload offload = {});

    void on_open(ConnId id, const std::string& peer_ip);
    void on_message(ConnId id, const msg_header& header, std::string body);
    void on_close(ConnId id);

    // A chat datagram for a user homed here (46-character outer header, then a framed command
    // with a scrambled body). Fills *ack with the acknowledgement to send back and returns 0, or
    // returns -1 for a malformed datagram, -2 for one whose sender may not send from from_ip
    // (logged here); neither is acknowledged. A receiver that is signed in gets
    // the datagram, its inner body unscrambled, as command 2000 on the main connection.
    // from_ip: the datagram's source address; a sender homed here must be signed in from it.
    int on_datagram(std::string_view datagram, const std::string& from_ip, std::string* ack);

    // Sends a notice text (998 or 999) to every signed-in user. Returns the number reached.
    int broadcast_notice(int command, const std::string& text);
    // Creates the demo accounts and their contacts unless they exist. Returns 0 or -1.
    int seed_demo();

    // Port of the server's own relay (0: none); set when it starts listening.
    void set_relay_port(int port) { m_options.relay_port = port; }

    size_t connection_count() const { return m_conns.size(); }
    // Whether a user is signed in on the connection.
    bool signed_in(ConnId id) const {
        auto it = m_conns.find(id);
        return it != m_conns.end() && it->second.user_id != 0;
    }
    size_t online_count() const { return m_online.size(); }

    static constexpr const char* kDemoPassword = "demo1234";

private:
    struct Conn {
        std::string peer_ip;
        int user_id = 0;  // signed-in user on this (main) connection, 0 when none
        int session_id = 0;
        bool busy = false;  // a password check runs; later messages wait in `queued`
        std::deque<std::pair<msg_header, std::string>> queued;
        size_t queued_bytes = 0;
        LineBudget budget;  // lines this connection's input may cause
        // Offline message being received (330, 331..., 332).
        bool off_open = false;
        int off_to = 0;
        int off_from = 0;
        std::string off_text;
        bool off_receipts = false;  // the sender asked (1102) to learn whether it was stored
        // Ports of this user's relay server that the server reached (0: not confirmed), and
        // whether a check of that port is under way.
        int relay_port[3] = {0, 0, 0};
        bool relay_probing[3] = {false, false, false};
    };
    struct Presence {
        ConnId conn = 0;
        int state = 0;
        std::string address;
    };

    void handle(ConnId id, Conn& c, const msg_header& h, const std::string& body);
    // Sets the user signed in on a connection (0: none), keeping the per-address counts.
    void set_user(Conn& c, int user);
    // A log line caused by the input of the connection being handled, within its line budget.
    void note(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // Whether a request that names `claimed` as its sender may be taken from `peer_ip`: a user
    // homed here only from the address of its signed-in main connection; an id not homed here
    // as it comes. `what` names the request in the log line of a refusal.
    bool claim_ok(int claimed, const std::string& peer_ip, const char* what);
    // A password check (sign-in or registration) of a connection: work runs on the hashing
    // threads, done back here. Checks of one source address run at most kMaxChecksPerAddress at
    // a time, the others wait in order; a sign-in (account != 0) that would pass
    // kMaxChecksPerAccount for its account is refused instead (refused runs).
    struct CheckJob {
        ConnId id = 0;
        int account = 0;
        std::function<void()> work;
        std::function<void()> done;
        std::function<void()> refused;
    };
    void queue_check(const std::string& address, CheckJob job);
    void start_checks(const std::string& address);
    void drain(ConnId id);
    void send(ConnId id, int command, std::string_view body = {}, int board_num = 0);

    // Main connection.
    void do_login(ConnId id, Conn& c, const std::string& body);
    void finish_login(ConnId id, const User& user, bool ok);
    void do_register(ConnId id, Conn& c, const std::string& body);
    void do_sign_out(ConnId id, Conn& c);
    void send_groups(ConnId id, int user);
    void send_contacts(ConnId id, int user);
    void do_local_address(Conn& c, const std::string& body);
    void do_search(ConnId id, const std::string& body);
    void do_add_contact(ConnId id, int user, const std::string& body);
    void do_add_confirm(ConnId id, int user, const std::string& body, bool yes);
    void do_remove_contact(ConnId id, int user, const std::string& body);
    void do_remove_confirm(ConnId id, int user, const std::string& body, bool yes);
    void do_move_contact(int user, const std::string& body);
    void do_add_group(ConnId id, int user, const std::string& body);
    void do_rename_group(ConnId id, int user, const std::string& body);
    void do_remove_group(ConnId id, int user, const std::string& body);
    void do_offline_fetch(ConnId id, int user);
    void do_offline_delete(int user, const std::string& body);
    void do_presence(ConnId id, int user, const std::string& body);
    void do_stat(int user, const char* column, const std::string& body);

    // One-shot home-server connection.
    void do_query_online(ConnId id, const Conn& c, const std::string& body);
    void do_status_to_contact(const Conn& c, const std::string& body);
    void do_connect_back(const Conn& c, const std::string& body);
    void do_offline_begin(Conn& c, const std::string& body);
    void do_offline_part(Conn& c, const std::string& body);
    void do_offline_end(ConnId id, Conn& c, const std::string& body);
    // Why a message from `from` cannot be stored for `to` now (a log text), or empty when it can.
    std::string offline_refusal(int to, int from);

    // Relays: port checks (420-422), the assignment (460) and the route exchange (480-482).
    void do_relay_port(ConnId id, Conn& c, int slot, int board_num);
    void do_slave_request(ConnId id, int user);
    void do_route_request(const Conn& c, const std::string& body);
    void do_route_info(int command, const std::string& body);

    // Sends the fresh contact list to `user` when that user is signed in.
    void refresh_contacts_if_online(int user);
    // Tells the signed-in users who hold `user` in their lists about its presence.
    void notify_watchers(int user, int state, const std::string& address);
    void end_presence(int user, ConnId id, bool tell_watchers);
    int visible_state(int user) const;

    Store& m_store;
    Transport& m_transport;
    Log& m_log;
    CoreOptions m_options;
    Offload m_offload;
    std::unordered_map<ConnId, Conn> m_conns;
    std::unordered_map<int, Presence> m_online;  // user -> its main connection
    // Highest offline message id shown to a user per sender; 348 deletes only up to it.
    std::unordered_map<int, std::map<int, int64_t>> m_delivered;
    int m_online_index = 0;
    // When each user was last asked (381) to connect to each other user: (target, requester).
    std::map<std::pair<int, int>, std::chrono::steady_clock::time_point> m_connect_back_sent;
    // Password checks per source address (running, waiting) and running per account.
    struct AddressChecks {
        int running = 0;
        std::deque<CheckJob> waiting;
    };
    std::unordered_map<std::string, AddressChecks> m_checks_by_address;
    std::unordered_map<int, int> m_checks_by_account;
    // Connections per source address: all of them, and those with a user signed in.
    struct AddressConns {
        int total = 0;
        int signed_in = 0;
    };
    std::unordered_map<std::string, AddressConns> m_by_address;
    ConnId m_current = 0;  // connection whose message is being handled, 0 outside handle()
    LineBudget m_budget;   // lines from input without a connection (datagrams)
};

// Parsing helpers for the fixed-width bodies (exposed for tests).
// Reads an integer from text that holds blanks, an optional '-' and digits, then optional blanks.
bool parse_int(std::string_view text, int* out);
// Reads the field of `width` characters at `offset` (cut at the body's end) as an integer.
bool parse_field(std::string_view body, size_t offset, size_t width, int* out);

}  // namespace srv
