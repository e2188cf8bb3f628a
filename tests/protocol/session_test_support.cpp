#include "tests/protocol/session_test_support.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/debug_log.h"
#include "protocol/session.h"

namespace session_test {

fake_server::fake_server(const char* address) { m_listen = tcp_listen(address, kServerPort, 5); }

fake_server::~fake_server() {
    close_connection();
    close_socket(m_listen);
}

bool fake_server::accept(int ms) {
    if (wait_readable(m_listen, ms) <= 0) return false;
    socket_t s = ::accept(m_listen, nullptr, nullptr);
    if (s < 0) return false;
    close_connection();
    m_conn = s;
    return true;
}

bool fake_server::read_exact(char* buf, int n, int ms) {
    int got = 0;
    while (got < n) {
        if (wait_readable(m_conn, ms) <= 0) return false;
        long r = recv_bytes(m_conn, buf + got, n - got);
        if (r <= 0) return false;
        got += static_cast<int>(r);
    }
    return true;
}

bool fake_server::read(message* out, int ms) {
    if (m_conn < 0) return false;
    char header[kHeaderLen + 1] = {};
    if (!read_exact(header, kHeaderLen, ms)) return false;
    msg_header h;
    if (parse_header(header, &h) != 0 || h.len < 0) return false;
    std::string body(static_cast<size_t>(h.len), '\0');
    if (h.len > 0 && !read_exact(body.data(), h.len, ms)) return false;
    xor_scramble(body.data(), h.len);
    *out = message{h.session, h.board_num, h.command, body};
    return true;
}

bool fake_server::read_until(int command, message* out, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        message m;
        if (!read(&m, ms)) return false;
        if (m.command == command) {
            *out = m;
            return true;
        }
        skipped.push_back(m);
    }
    return false;
}

void fake_server::send(int command, const std::string& body, int board, int session) {
    std::string bytes(kHeaderLen + body.size(), '\0');
    build_message(bytes.data(), static_cast<int>(bytes.size()), session, board, command,
                  body.data(), static_cast<int>(body.size()));
    xor_scramble(bytes.data() + kHeaderLen, static_cast<long>(body.size()));
    send_raw(bytes);
}

void fake_server::send_raw(const std::string& bytes) {
    if (m_conn >= 0) send_bytes(m_conn, bytes.data(), static_cast<long>(bytes.size()));
}

void fake_server::close_connection() {
    if (m_conn >= 0) close_socket(m_conn);
    m_conn = -1;
}

bool fake_server::peer_closed(int ms) {
    char c;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (wait_readable(m_conn, 50) > 0 && recv_bytes(m_conn, &c, 1) <= 0) return true;
    }
    return false;
}

void recorder::post(int n, intptr_t w, intptr_t l, note_payload owned) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_notes.push_back(note{n, w, l, std::move(owned)});
    m_cond.notify_all();
}

std::vector<std::string> recorder::chunks() {
    std::vector<std::string> out;
    for (const auto& x : notes())
        if (x.n == 36) out.push_back(note_text(x.w, x.l));
    return out;
}

bool recorder::wait_count(int n, int times, int ms) {
    std::unique_lock<std::mutex> lk(m_mutex);
    return m_cond.wait_for(lk, std::chrono::milliseconds(ms), [&] {
        int seen = 0;
        for (auto& x : m_notes) seen += x.n == n;
        return seen >= times;
    });
}

bool recorder::wait_for(int n, int ms, note* out) {
    std::unique_lock<std::mutex> lk(m_mutex);
    bool found = m_cond.wait_for(lk, std::chrono::milliseconds(ms), [&] {
        for (auto& x : m_notes)
            if (x.n == n) return true;
        return false;
    });
    if (found && out)
        for (auto& x : m_notes)
            if (x.n == n) {
                *out = x;
                break;
            }
    return found;
}

std::vector<recorder::note> recorder::notes() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_notes;
}

int recorder::count(int n) {
    std::lock_guard<std::mutex> lk(m_mutex);
    int c = 0;
    for (auto& x : m_notes) c += x.n == n;
    return c;
}

std::string read_log() {
    std::ifstream f(debug_log_path());
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace session_test
