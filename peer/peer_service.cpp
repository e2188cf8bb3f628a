#include "peer/peer_service.h"

#include <string>

#include "peer/file_transfer.h"
#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "peer/relay_server.h"
#include "peer/slave_server.h"
#include "peer/udp_packets.h"
#include "platform/thread.h"
#include "protocol/file_dispatch.h"
#include "protocol/peer_dispatch.h"

namespace {
class peer_layer : public peer_dispatch {
public:
    // 381: the peer asked through its server to be connected to. The connect runs on a job so
    // that the receive thread goes on reading the main connection meanwhile.
    int connect_to_peer(int peer_id, const char* address) override {
        if (!address || address[0] == '\0') return -1;
        std::string a = address;
        return m_jobs.start([peer_id, a] { ::connect_to_peer(peer_id, a.c_str()); });
    }
    int send_chat_line(int peer_id, const char* my_name, const char* text,
                       const unsigned char attrs[5]) override {
        OnContactTextChat(peer_id);
        return send_chat_text(peer_id, my_name, text, attrs);
    }
    int knock(int peer_id) override { return OnContactKnockPeer(peer_id); }
    void start_contact_text_chat(int contact_id) override {
        m_jobs.start([contact_id] { OnContactTextChat(contact_id); });
    }
    // 462-470: the own slave servers.
    int set_slave_server_address(int which, const char* address) override {
        ::set_slave_server_address(which, address);
        return 0;
    }
    int set_slave_server_port(int which, int slot, int port) override {
        ::set_slave_server_port(which, slot, port);
        return 0;
    }
    int connect_to_slave_servers() override { return connect_my_slave_servers(); }
    // 480-482: routes to the peers' slave servers.
    int do_request_slave_server_addr_from_server(const char* body, int len) override {
        return ::do_request_slave_server_addr_from_server(body, len);
    }
    int do_peer_slave_server(int command, const char* body, int len) override {
        return do_peer_slave_server_info_from_server(body, len);
    }
    void request_peer_slave_route(int contact_id) override {
        ::request_peer_slave_route(contact_id);
    }
    void fifth_tick_duty() override { request_missing_slave_routes(); }
    bool slave_server_known() override { return ::slave_server_known(); }
    // 2000: a datagram relayed by the peer's home server.
    int do_relay_peer_udp_from_server(const char* body, int len) override {
        return ::do_relay_peer_udp_from_server(body, len, 0);
    }
    // The local relay server's part of the housekeeping reports (420-422, 451, 452).
    bool relay_port_listening(int slot) override { return ::relay_port_listening(slot); }
    int relay_port(int slot) override { return ::relay_listen_port(slot); }
    int relay_traffic_sum() override { return ::relay_traffic_sum(); }
    int relay_connection_count() override { return ::relay_connection_count(); }

    void wait_jobs() { m_jobs.wait(15000); }

private:
    Cjob_group m_jobs;
};

peer_layer g_peer_layer;

// The file transfers behind the session controller's file actions and notifications.
class file_layer : public file_dispatch {
public:
    user_text handle_notification(int n, intptr_t wparam, intptr_t lparam) override {
        return handle_file_notification(n, wparam, lparam);
    }
    int offer_question(int peer_id, user_text* question, std::string* offered_name) override {
        return file_offer_question(peer_id, question, offered_name);
    }
    int offer_file(int peer_id, const char* path) override { return ::offer_file(peer_id, path); }
    int answer_offer(int peer_id, bool accept, const char* folder) override {
        return file_offer_answer(peer_id, accept, folder);
    }
    int accept_offer_as(int peer_id, const char* path) override {
        return file_offer_accept_as(peer_id, path);
    }
    bool progress(int peer_id, bool sending, file_progress* out) override {
        return sending ? file_send_progress(peer_id, out) : file_recv_progress(peer_id, out);
    }
};

file_layer g_file_layer;
}  // namespace

int start_peer_networking(bool listen) {
    set_peer_dispatch(&g_peer_layer);
    set_file_dispatch(&g_file_layer);
    start_relay_service();
    start_slave_service();
    return start_peer_service(listen);
}

void stop_peer_networking() {
    set_peer_dispatch(nullptr);
    g_peer_layer.wait_jobs();
    // The file layer stays installed: the notifications of transfers closed here may still be
    // handled after the stop.
    stop_file_transfers();
    stop_slave_service();
    wait_udp_jobs(15000);
    stop_relay_service();
    stop_peer_service();
}
