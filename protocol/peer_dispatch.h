// The server commands that belong to peer networking, and the peer duties of the session's
// housekeeping. The receive loop and the housekeeping call these functions; the peer-networking
// library installs its implementation with set_peer_dispatch(). Until then the defaults write a
// log line saying the command is not handled yet and report nothing known.
//
// do_status_notify_by_peer (401) is not here: presence needs it now and it lives in session.cpp.
#pragma once

struct peer_dispatch {
    virtual ~peer_dispatch() = default;
    // 381: a peer asked through its server to be connected to; address is at most 50 characters.
    virtual int connect_to_peer(int peer_id, const char* address);
    // 462 and 466: first (which 0) or second (which 1) slave server address.
    virtual int set_slave_server_address(int which, const char* address);
    // 463-465 and 467-469: candidate port slot (0-2) of slave server `which`.
    virtual int set_slave_server_port(int which, int slot, int port);
    // 470: connect to every known slave server.
    virtual int connect_to_slave_servers();
    // 480: send this client's slave servers to that peer as 481 and 482.
    // body: the requester's id in its first ten characters (digits and blanks only).
    virtual int do_request_slave_server_addr_from_server(const char* body, int len);
    // 481 and 482: a peer's slave server.
    virtual int do_peer_slave_server(int command, const char* body, int len);
    // 2000: a datagram relayed by the server.
    virtual int do_relay_peer_udp_from_server(const char* body, int len);
    // Starts a short-lived worker that opens a direct connection to a contact (relation state 1, a
    // contact coming online, a chat window shown) and returns at once.
    virtual void start_contact_text_chat(int contact_id);
    // A chat line (210) to the peer: connects first when no connection is open, then sends
    // directly, through the slave server or as a datagram. May wait on sockets (a worker calls
    // it). 0 when it went out.
    virtual int send_chat_line(int peer_id, const char* my_name, const char* text,
                               const unsigned char attrs[5]);
    // A knock (410) directly or through the slave server. 0 when it went out.
    virtual int knock(int peer_id);
    // Notification 45: ask the contact's home server for its slave-server route (480, empty body).
    virtual void request_peer_slave_route(int contact_id);
    // Housekeeping duties of the relay and slave-server layer.
    virtual bool relay_port_listening(int slot);  // slot 0, 1, 2 = ports 80, 443, 8199
    // The port that slot's listener actually uses (it differs from the default in tests and for
    // unprivileged users); 0 when unknown.
    virtual int relay_port(int slot);
    virtual int relay_traffic_sum();
    virtual int relay_connection_count();
    virtual bool slave_server_known();
    // Every fifth housekeeping tick: 480 to the home server of each online contact without a
    // slave-server connection.
    virtual void fifth_tick_duty();
};

// The installed implementation (the logging defaults until one is set). nullptr restores them.
void set_peer_dispatch(peer_dispatch* impl);
peer_dispatch& peer();
