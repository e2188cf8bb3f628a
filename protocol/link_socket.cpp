#include "protocol/link_socket.h"

#include <cstring>
#include <vector>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "platform/tick.h"
#include "protocol/framing.h"
#include "protocol/texts.h"

Clink_socket::Clink_socket() {
    copy_text(name, "noname");
    server_host[0] = '\0';
    local_address[0] = '\0';
    proxy_address[0] = '\0';
    proxy_user_name[0] = '\0';
    proxy_password[0] = '\0';
}

Clink_socket::~Clink_socket() = default;

namespace {
// The connection the calling thread reads as a bound reader, and the serial of its handle.
thread_local const Clink_socket* t_bound_to = nullptr;
thread_local uint64_t t_bound_serial = 0;
}  // namespace

void Clink_socket::receive_failed() {
    static const char kText[] = "Receiving data from server failed, may need reconnect.";
    log_line("%s (%s)\n", kText, name);
    // A receive on a connection closed on purpose (sign-out, another thread's close) is no news.
    if (report_receive_failure != 1 || sock.load() == 0) return;
    // One box per broken connection: the handle's serial is remembered, and a later connection
    // has a new one.
    uint64_t serial = m_handle_serial.load();
    if (m_failure_reported.exchange(serial) != serial)
        show_user_text(make_text(TXT_RECEIVE_FAILED));
}

socket_t Clink_socket::take_handle() {
    // The serial changes before the handle goes: a bound reader loads the handle first and the
    // serial second, so it either sees its own handle or learns that it is gone.
    m_handle_serial.fetch_add(1);
    return sock.exchange(0);
}

void Clink_socket::close_taken(socket_t s) {
    if (s == 0) return;
    shutdown_socket(s);
    {
        std::unique_lock<std::shared_mutex> lk(m_fd_lock);
        close_socket(s);
    }
    connected = 0;
    tried_times = 0;
}

int Clink_socket::my_close() {
    close_taken(take_handle());
    return 0;
}

void Clink_socket::bind_reader() {
    std::shared_lock<std::shared_mutex> fd(m_fd_lock);
    socket_t s = sock.load();
    t_bound_to = this;
    t_bound_serial = s != 0 ? m_handle_serial.load() : 0;
}

socket_t Clink_socket::usable_handle() const {
    socket_t s = sock.load();
    if (t_bound_to == this && t_bound_serial != m_handle_serial.load()) return 0;
    return s;
}

int Clink_socket::wait_readable_for(int ms) {
    // Held shared, the handle cannot be closed during the wait; closing shuts it down first,
    // which ends the wait.
    std::shared_lock<std::shared_mutex> fd(m_fd_lock);
    socket_t s = usable_handle();
    if (s == 0) return -1;
    int r = wait_readable(s, ms);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void Clink_socket::attach(socket_t accepted) {
    my_close();
    sock = accepted;
    connected = 1;
    tried_times = 0;
    retry_count = 0;
}

void Clink_socket::clear_after_failed_connect(socket_t s) {
    close_socket(s);
    sock = 0;
    connected = 0;
}

bool Clink_socket::join_or_claim_connect(std::unique_lock<std::mutex>& lk, int* result) {
    if (m_connecting) {
        uint64_t round = m_connect_round;
        m_connect_done.wait(lk, [&] { return m_connect_round != round; });
        *result = m_connect_result;
        return true;
    }
    m_connecting = true;
    return false;
}

void Clink_socket::finish_connect(int result) {
    std::lock_guard<std::mutex> lk(m_connect_mutex);
    m_connecting = false;
    m_connect_round++;
    m_connect_result = result;
    m_connect_done.notify_all();
}

int Clink_socket::connect_to_server() {
    int r;
    {
        std::unique_lock<std::mutex> lk(m_connect_mutex);
        if (join_or_claim_connect(lk, &r)) return r;
    }
    r = connect_now();
    finish_connect(r);
    return r;
}

int Clink_socket::ensure_connected(const char* host, uint16_t port) {
    int r;
    {
        std::unique_lock<std::mutex> lk(m_connect_mutex);
        if (m_connecting) {
            join_or_claim_connect(lk, &r);
            return r;
        }
        if (sock.load() != 0) return 0;
        m_connecting = true;
    }
    if (host) {
        std::lock_guard<std::mutex> lk(m_address_mutex);
        copy_text(server_host, host);
        server_port = port;
    }
    r = connect_now();
    finish_connect(r);
    return r;
}

std::string Clink_socket::local_address_text() {
    std::lock_guard<std::mutex> lk(m_address_mutex);
    return local_address;
}

void Clink_socket::set_local_address_from(socket_t s) {
    char text[sizeof(local_address)];
    local_address_of(s, text, 51);
    std::lock_guard<std::mutex> lk(m_address_mutex);
    copy_text(local_address, text);
}

socket_t Clink_socket::open_connection(const char* host, uint16_t port, bool report_resolve) {
    // Drop a previous connection without the subclass's slot clearing: the caller still owns
    // the slot it is connecting for.
    Clink_socket::my_close();
    socket_t s = tcp_socket();
    if (s < 0) {
        show_user_text(make_text(TXT_CREATE_SOCKET_FAILED));
        sock = 0;
        connected = 0;
        return -1;
    }
    struct in_addr addr;
    if (resolve_ipv4(host, &addr) != 0) {
        if (report_resolve) show_user_text(make_text(TXT_RESOLVE_FAILED, {host}));
        clear_after_failed_connect(s);
        return -1;
    }
    if (connect_ipv4(s, addr, port) != 0) {
        clear_after_failed_connect(s);
        return -1;
    }
    return s;
}

int Clink_socket::connect_now() {
    load_proxy_settings();
    if (use_proxy == 1) {
        if (connect_through_proxy() != 0) {
            my_close();
            return -1;
        }
        return 0;
    }
    socket_t s = open_connection(server_host, server_port, report_resolve_error == 1);
    if (s < 0) return -1;
    sock = s;
    connected = 1;
    set_buffer_sizes();
    set_local_address_from(s);
    return 0;
}

int Clink_socket::set_buffer_sizes() { return set_socket_buffers(sock, kSocketBufferBytes); }

int Clink_socket::log_socket_error() {
    char text[512];
    // The format comes from the fixed error table, each with exactly one %s.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(text, sizeof(text), socket_error_format(last_socket_error()), name);
#pragma GCC diagnostic pop
    log_line("%s\n", text);
    return 0;
}

int Clink_socket::wait_send_ready(socket_t s, int ms) { return wait_writable(s, ms); }

int Clink_socket::my_send_fixed_len(const char* data, int length) {
    return send_scrambled(data, length, kHeaderLen);
}

int Clink_socket::my_send_fixed_len_from(const char* data, int length, int from) {
    if (from < 0) from = 0;
    if (from > length) from = length;
    return send_scrambled(data, length, from);
}

int Clink_socket::send_scrambled(const char* data, int length, int from) {
    if (sock == 0) return -1;
    if (length > kMaxSendLen) {
        log_line("len:%d > 20000 in my_send_fixed_len\r\n", length);
        length = kMaxSendLen;
    }
    if (length <= 0) {
        show_user_text(make_text(TXT_SEND_LENGTH_INVALID));
        return -1;
    }
    char copy[kMaxSendLen];
    std::memcpy(copy, data, static_cast<size_t>(length));
    last_send_tick = get_tick_count();
    if (from < length) xor_scramble(copy + from, length - from);
    return send_raw(copy, length);
}

int Clink_socket::send_owned_on_handle(uint64_t serial, std::vector<char>& message, int from) {
    int length = static_cast<int>(message.size());
    if (length <= 0) return -1;
    if (from < 0) from = 0;
    if (from < length && length > kMaxSendLen) {
        log_line("len:%d > 20000 in my_send_fixed_len\r\n", length);
        length = kMaxSendLen;
    }
    if (from < length) xor_scramble(message.data() + from, length - from);
    int r = send_on_handle(serial, message.data(), length, length);
    if (r < 0 && from < length) xor_scramble(message.data() + from, length - from);
    return r;
}

int Clink_socket::send_on_handle(uint64_t serial, const char* data, int length, int from) {
    if (length <= 0) return -1;
    std::vector<char> copy;
    if (from < length) {
        if (length > kMaxSendLen) {
            log_line("len:%d > 20000 in my_send_fixed_len\r\n", length);
            length = kMaxSendLen;
        }
        copy.assign(data, data + length);
        if (from < 0) from = 0;
        xor_scramble(copy.data() + from, length - from);
        data = copy.data();
    }
    while (!lock_for(send_lock, kSendLockWaitMs))
        log_line("send lock wait timed out in send_on_handle (%s), waiting on\n", name);
    last_send_tick = get_tick_count();
    int sent = 0;
    while (sent < length) {
        long r = -1;
        {
            // Held shared, the handle cannot be closed under the send; closing shuts it down
            // first, which ends a send that waits for room.
            std::shared_lock<std::shared_mutex> fd(m_fd_lock);
            // The handle before the serial: a matching serial then vouches for the handle read.
            socket_t s = sock.load();
            if (s != 0 && m_handle_serial.load() == serial) r = send_bytes(s, data + sent, length - sent);
        }
        if (r <= 0) {
            send_lock.unlock();
            return -1;
        }
        sent += static_cast<int>(r);
    }
    last_send_tick = get_tick_count();
    send_lock.unlock();
    return length;
}

bool Clink_socket::peer_gone() {
    std::shared_lock<std::shared_mutex> fd(m_fd_lock);
    return peer_has_closed(sock);
}

int Clink_socket::send_raw(const char* data, int length) {
    int sent = 0;
    for (;;) {
        // A send never goes out without the lock: a wait that times out is logged and repeated.
        while (!lock_for(send_lock, kSendLockWaitMs))
            log_line("send lock wait timed out in my_send_fixed_len (%s), waiting on\n", name);

        int sel;
        {
            std::shared_lock<std::shared_mutex> fd(m_fd_lock);
            socket_t s = sock;
            sel = s != 0 ? wait_send_ready(s, kSendSelectMs) : 1;
        }
        if (sel < 0) {
            if (retry_on_error == 1 && tried_times < kSendRetryLimit) {
                retry_count++;
                int tries = ++tried_times;
                log_line("sleep in my_send_fixed_len select, tried_times:%d (%s)\n", tries, name);
                log_socket_error();
                send_lock.unlock();
                sleep_ms(kSendRetrySleepMs);
                continue;
            }
            if (retry_on_error == 1) {
                log_line("tried too many times in send_fixed_len(%s) select, closing\n", name);
                tried_times = 0;
                retry_count = -1;
            }
            my_close();
            send_lock.unlock();
            log_line("Sending data to server failed in %s, select<0, may need reconnect.\n", name);
            log_socket_error();
            return sel;
        }
        if (sel == 0) log_line("wait time out in Clink_socket::my_send_fixed_len!!!!!!\n");

        long r = 0;
        bool closed;
        {
            std::shared_lock<std::shared_mutex> fd(m_fd_lock);
            socket_t s = sock;
            closed = s == 0;
            if (!closed) r = send_bytes(s, data + sent, length - sent);
        }
        if (closed) {
            my_close();
            send_lock.unlock();
            log_socket_error();
            return -1;
        }
        if (r < 0) {
            if (retry_on_error == 1 && tried_times < kSendRetryLimit) {
                retry_count++;
                int tries = ++tried_times;
                log_line("sleep in my_send_fixed_len, tried_times:%d (%s)\n", tries, name);
                send_lock.unlock();
                sleep_ms(kSendRetrySleepMs);
                continue;
            }
            if (retry_on_error == 1) {
                log_line("tried too many times in send_fixed_len(%s), closing\n", name);
                tried_times = 0;
            }
            my_close();
            send_lock.unlock();
            log_socket_error();
            return static_cast<int>(r);
        }
        if (r == 0) {
            log_line("ret==0 in Clink_socket.my_send_fixed_len");
            send_lock.unlock();
            return 0;
        }
        send_lock.unlock();
        sent += static_cast<int>(r);
        if (sent < length) continue;
        retry_count = 0;
        tried_times = 0;
        last_send_tick = get_tick_count();
        return length;
    }
}

void Clink_socket::send_with_reconnect(const char* data, int length) {
    uint64_t before = m_handle_serial.load();
    if (my_send_fixed_len(data, length) >= 0) return;
    if (hold_reconnect.load()) {
        log_line("send on %s dropped: not connected, the owner reconnects\n", name);
        return;
    }
    bool mine = false;
    {
        std::unique_lock<std::mutex> lk(m_connect_mutex);
        // Another thread reconnected after this send started: send on its connection. A connect
        // under way is waited for; otherwise this thread reconnects.
        bool reconnected = sock.load() != 0 && m_handle_serial.load() != before;
        int joined;
        if (!reconnected) mine = !join_or_claim_connect(lk, &joined);
    }
    if (mine) {
        my_close();
        int r = connect_now();
        if (reconnect_hook hook = on_reconnect.load()) hook(*this, r == 0);
        finish_connect(r);
    }
    my_send_fixed_len(data, length);
}

int Clink_socket::my_recv(char* buffer, int max) {
    if (max <= 0) {
        show_user_text(make_text(TXT_RECV_LENGTH_INVALID));
        return -1;
    }
    long r;
    {
        std::shared_lock<std::shared_mutex> fd(m_fd_lock);
        socket_t s = usable_handle();
        r = s != 0 ? recv_bytes(s, buffer, max) : -1;
    }
    if (r < 0) receive_failed();
    return static_cast<int>(r);
}

int Clink_socket::recv_exact(char* buffer, int n, bool show_failure) {
    int got = 0;
    long r = 0;
    while (got < n) {
        {
            std::shared_lock<std::shared_mutex> fd(m_fd_lock);
            socket_t s = usable_handle();
            r = s != 0 ? recv_bytes(s, buffer + got, n - got) : -1;
        }
        if (r < 0) {
            if (show_failure) receive_failed();
            return static_cast<int>(r);
        }
        // Zero bytes after a blocking receive means the other side closed the connection.
        if (r == 0) return -1;
        got += static_cast<int>(r);
    }
    return static_cast<int>(r);
}

int Clink_socket::skip_fixed_len(int n) {
    char scratch[2048];
    while (n > 0) {
        int chunk = n < static_cast<int>(sizeof(scratch)) ? n : static_cast<int>(sizeof(scratch));
        if (recv_exact(scratch, chunk, false) < 0) return -1;
        n -= chunk;
    }
    return 0;
}

int Clink_socket::my_recv_fixed_len(char* buffer, int n) {
    if (n == 0) return 0;
    if (n < 0) return -1;
    return recv_exact(buffer, n, true);
}

bool connect_home_server(Clink_socket& link, const char* host, const char* who, bool report_resolve_error) {
    copy_text(link.name, who);
    copy_text(link.server_host, host);
    link.server_port = kServerPort;
    link.report_resolve_error = report_resolve_error ? 1 : 0;
    link.retry_on_error = 0;
    return link.connect_to_server() == 0;
}
