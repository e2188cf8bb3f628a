#include "peer/udp_packets.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "peer/peer_commands.h"
#include "peer/peer_session.h"
#include "peer/slave_header.h"
#include "platform/debug_log.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/settings_store.h"
#include "protocol/tables.h"

namespace {
Cjob_group g_udp_jobs;
std::atomic<int> g_ack_wait_ms{kUdpAckWaitMs};

struct dup_entry {
    int peer_id;
    int peer_tick;
    int in_use;
};
std::mutex g_ring_mutex;
dup_entry g_ring[kUdpDupRing];  // guarded by g_ring_mutex
int g_ring_pos = 0;             // guarded by g_ring_mutex

// The sending queue: one sender thread takes the datagrams in the order they were queued, so a
// receiver sees one sender's lines in the order they were typed. The thread stays a moment after
// the queue runs empty (a burst does not start a thread per line) and then ends.
constexpr int kSenderLingerMs = 2000;
std::mutex g_queue_mutex;
std::condition_variable g_queue_cv;
std::deque<std::unique_ptr<udp_packet>> g_queue;  // guarded by g_queue_mutex
bool g_sender_running = false;                    // guarded by g_queue_mutex
bool g_sender_release = false;                    // guarded by g_queue_mutex: stop lingering
// Shutdown: what is still queued goes out once each, without waiting for acknowledgements, so a
// home server that does not answer cannot hold the stop for four waits per queued datagram.
std::atomic<bool> g_flushing{false};
uint32_t g_last_tick = 0;                         // guarded by g_queue_mutex

bool proxy_configured() {
    int use_proxy = 0;
    reg_read_int("proxy", "use_proxy", &use_proxy);
    return use_proxy == 1;
}

// A receiver knows a datagram by (sender, tick), so no two datagrams of this process may share a
// tick: the clock, or one past the last tick when the clock has not moved since. Caller holds
// g_queue_mutex.
int next_tick_locked() {
    uint32_t now = get_tick_count();
    if (g_last_tick != 0 && static_cast<int32_t>(now - g_last_tick) <= 0) now = g_last_tick + 1;
    g_last_tick = now;
    return outer_tick_field(now);
}

void sender_loop() {
    std::unique_lock<std::mutex> lk(g_queue_mutex);
    for (;;) {
        if (g_queue.empty() &&
            (!g_queue_cv.wait_for(lk, std::chrono::milliseconds(kSenderLingerMs),
                                  [] { return !g_queue.empty() || g_sender_release; }) ||
             g_queue.empty())) {
            g_sender_running = false;
            return;
        }
        std::unique_ptr<udp_packet> packet = std::move(g_queue.front());
        g_queue.pop_front();
        lk.unlock();
        send_udp_packet_thread(packet.release());
        lk.lock();
    }
}

// A chat line (210) or its echo (211) longer than one datagram carries: the text is shortened at
// a whole character so that header, text, terminator and attributes stay consistent. Returns the
// new length in out, or -1 for any other command (it cannot be shortened safely).
int shorten_chat_message(const char* message, int length, char* out) {
    msg_header h;
    if (length < kHeaderLen || parse_header(message, &h) != 0 ||
        (h.command != PEER_CHAT_TEXT && h.command != PEER_CHAT_ECHO) ||
        h.len != length - kHeaderLen)
        return -1;
    const char* body = message + kHeaderLen;
    int text_len = static_cast<int>(strnlen(body, static_cast<size_t>(h.len)));
    unsigned char attrs[kChatAttrBytes] = {0, 0, 0, 10, 0};
    if (h.len >= text_len + 1 + kChatAttrBytes)
        std::memcpy(attrs, body + text_len + 1, kChatAttrBytes);
    constexpr int kTextRoom = kUdpMessageMax - kHeaderLen - 1 - kChatAttrBytes;
    int keep = text_len > kTextRoom ? utf8_cut(body, kTextRoom) : text_len;
    char shortened[kUdpMessageMax];
    std::memcpy(shortened, body, static_cast<size_t>(keep));
    shortened[keep] = '\0';
    std::memcpy(shortened + keep + 1, attrs, kChatAttrBytes);
    return build_message(out, kUdpRecordRoom, h.session, h.board_num, h.command, shortened,
                         keep + 1 + kChatAttrBytes);
}
}  // namespace

void set_udp_ack_wait_ms(int ms) {
    g_ack_wait_ms = ms > 0 ? ms : kUdpAckWaitMs;
}

bool wait_udp_jobs(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lk(g_queue_mutex);
        g_sender_release = true;
    }
    g_flushing = true;
    g_queue_cv.notify_all();
    bool done = g_udp_jobs.wait(ms);
    g_flushing = false;
    std::lock_guard<std::mutex> lk(g_queue_mutex);
    g_sender_release = false;
    return done;
}

void clear_udp_duplicate_ring() {
    std::lock_guard<std::mutex> lk(g_ring_mutex);
    std::memset(g_ring, 0, sizeof(g_ring));
    g_ring_pos = 0;
}

int send_udp_packet_to_peer_server(int peer_id, const void* message, int length) {
    if (proxy_configured()) {
        // The proxy carries TCP only; a datagram would leave the machine around it.
        log_line(
            "use_proxy is set: datagram to peer %d not sent in send_udp_packet_to_peer_server\r\n",
            peer_id);
        return -1;
    }
    if (!message || length <= 0) return -1;
    contact_record c;
    if (!contact_by_id(peer_id, &c) || c.home_server[0] == '\0') {
        log_line("no home server for contact id:%d in send_udp_packet_to_peer_server\r\n", peer_id);
        return -1;
    }
    auto packet = std::unique_ptr<udp_packet>(new (std::nothrow) udp_packet);
    if (!packet) {
        log_line("could not alloc udp_packet in send_udp_packet_to_peer_server.");
        return -1;
    }
    packet->peer_id = peer_id;
    if (length > kUdpMessageMax) {
        packet->len =
            shorten_chat_message(static_cast<const char*>(message), length, packet->message);
        if (packet->len < 0) {
            log_line("message of %d bytes does not fit a datagram to peer %d\r\n", length, peer_id);
            return -1;
        }
    } else {
        packet->len = length;
        std::memcpy(packet->message, message, static_cast<size_t>(length));
    }
    std::lock_guard<std::mutex> lk(g_queue_mutex);
    packet->tick = next_tick_locked();
    g_queue.push_back(std::move(packet));
    if (g_sender_running) {
        g_queue_cv.notify_one();
        return 0;
    }
    if (g_udp_jobs.start(sender_loop) != 0) {
        g_queue.pop_back();
        return -1;
    }
    g_sender_running = true;
    return 0;
}

int send_udp_packet_thread(udp_packet* packet) {
    if (!packet) return -1;
    std::unique_ptr<udp_packet> owned(packet);
    contact_record c;
    if (!contact_by_id(packet->peer_id, &c)) {
        log_line("did not find peer index for contact id:%d in send_udp_packet_thread",
                 packet->peer_id);
        return -1;
    }
    if (c.home_server[0] == '\0') {
        log_line("did not find server_ip_1 for contact id:%d in send_udp_packet_thread",
                 packet->peer_id);
        return -1;
    }
    int len = packet->len < kUdpMessageMax ? packet->len : kUdpMessageMax;
    char datagram[kOuterHeaderLen + kUdpRecordRoom + 1];
    int tick = packet->tick > 0 ? packet->tick : outer_tick_field(get_tick_count());
    build_outer_header(datagram, tick, packet->peer_id, peer_my_user_id(), len);
    std::memcpy(datagram + kOuterHeaderLen, packet->message, static_cast<size_t>(len));
    // The command header stays readable for the server; the body is scrambled.
    if (len > kHeaderLen) xor_scramble(datagram + kOuterHeaderLen + kHeaderLen, len - kHeaderLen);
    owned.reset();
    return send_udp_packet(c.home_server, datagram, len + kOuterHeaderLen);
}

int send_udp_packet(const char* host, const char* datagram, int length) {
    if (length > kUdpDatagramMax) length = kUdpDatagramMax;
    if (length <= 0) return -1;
    char copy[kUdpDatagramMax + 1];
    std::memcpy(copy, datagram, static_cast<size_t>(length));
    copy[length] = '\0';

    struct in_addr addr;
    if (resolve_ipv4(host, &addr) != 0) {
        log_line("unknown host in send udp packet '%s'\n", host);
        return -1;
    }
    socket_t s = udp_socket();
    if (s < 0) {
        log_line("cannot bind port in send_udp_packet\n");
        return -1;
    }
    struct sockaddr_in to;
    std::memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons(kServerPort);
    to.sin_addr = addr;

    std::vector<char> reply(4000);
    for (int attempt = 0;;) {
        if (sendto(s, copy, static_cast<size_t>(length), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&to), sizeof(to)) < 0) {
            log_line("cannot send data in send_udp_packet %.66s \n", copy);
            close_socket(s);
            return -1;
        }
        if (g_flushing) {
            close_socket(s);
            return 0;
        }
        std::memset(reply.data(), 0, reply.size());
        // The wait is bounded, so a server that never answers costs four time-outs, not a thread.
        if (wait_readable(s, g_ack_wait_ms.load()) > 0 &&
            recv(s, reply.data(), kUdpReplyMax, 0) >= 12 &&
            std::memcmp(reply.data(), copy, 12) == 0) {
            close_socket(s);
            return 0;
        }
        if (++attempt > kUdpAttempts - 1) {
            close_socket(s);
            return 0;
        }
    }
}

int do_relay_peer_udp_from_server(const char* body, int len, int board_num) {
    if (!body || len < 0) return -1;
    std::vector<char> buffer(static_cast<size_t>(len) + 1);
    std::memcpy(buffer.data(), body, static_cast<size_t>(len));
    buffer[static_cast<size_t>(len)] = '\0';
    char* text = buffer.data();

    for (int i = 0; i < kUdpInnerBodyOffset; i++) {
        char c = text[i];
        if (!(c >= '0' && c <= '9') && c != ' ' && c != ':') {
            log_line("content in do_relay_peer_udp_from_server not correct at:%d, %s\r\n", i, text);
            return -1;
        }
    }
    msg_header inner;
    if (text[12] != ':' || text[23] != ':' || text[34] != ':' || text[45] != ':' ||
        parse_header(text + kOuterHeaderLen, &inner) != 0) {
        log_line("semi colon in do_relay_peer_udp_from_server not correct:%s\r\n", text);
        return -1;
    }
    outer_header outer;
    parse_outer_header(text, &outer);
    int sender = outer.second_id;
    char description[256];
    std::snprintf(description, sizeof(description),
                  "peer_tick:%d, my_id:%d, peer_id:%d, outer_len:%d, session:%d, board_num:%d, "
                  "command:%d, len:%d",
                  outer.send_tick, outer.first_id, sender, outer.payload_len, inner.session,
                  inner.board_num, inner.command, inner.len);
    if (inner.len < 0 || inner.len > len - kUdpInnerBodyOffset) {
        // A length beyond the received bytes would make the handlers read past the packet.
        log_line("len does not fit the packet in do_relay_peer_udp_from_server: %s\r\n",
                 description);
        return -1;
    }
    {
        std::lock_guard<std::mutex> lk(g_ring_mutex);
        for (const auto& e : g_ring)
            if (e.in_use && e.peer_id == sender && e.peer_tick == outer.send_tick) {
                log_line("dup udp packet %s\r\n", description);
                return -1;
            }
        g_ring[g_ring_pos] = {sender, outer.send_tick, 1};
        g_ring_pos = (g_ring_pos + 1) % kUdpDupRing;
    }
    char* inner_body = text + kUdpInnerBodyOffset;
    inner_body[inner.len] = '\0';
    if (inner.command == PEER_CHAT_TEXT || inner.command == PEER_CHAT_ECHO)
        dispatch_peer_command(PEER_PATH_UDP, inner.command, inner_body, inner.len, inner.board_num,
                              sender, -1);
    else
        log_line("unknown command in do_relay_peer_udp_from_server:%d\r\n%s\r\n", inner.command,
                 text);
    return 0;
}
