#include "proxy_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "protocol/framing.h"
#include "protocol/link_socket.h"
#include "tests/support/loopback.h"
#include <future>

extern char** environ;

namespace proxy_test {
namespace {
constexpr int kStepWaitMs = 10000;

std::string hex(const bytes& data) {
    std::string out;
    char tmp[4];
    for (unsigned char c : data) {
        std::snprintf(tmp, sizeof(tmp), "%02x ", c);
        out += tmp;
    }
    return out;
}

// Reads exactly n bytes within ms milliseconds in all. False on time-out, failure or close.
bool read_exact_within(socket_t s, bytes* out, size_t n, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    out->clear();
    char buf[4096];
    while (out->size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || wait_readable(s, static_cast<int>(left)) <= 0) return false;
        long want = static_cast<long>(std::min(sizeof(buf), n - out->size()));
        long r = recv_bytes(s, buf, want);
        if (r <= 0) return false;
        out->append(buf, static_cast<size_t>(r));
    }
    return true;
}

bool send_all(socket_t s, const bytes& data) {
    size_t done = 0;
    while (done < data.size()) {
        long r = send_bytes(s, data.data() + done, static_cast<long>(data.size() - done));
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

socket_t accept_within(socket_t listener, int ms) {
    if (wait_readable(listener, ms) <= 0) return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

bool connects(const char* address, uint16_t port) {
    socket_t s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    struct in_addr addr;
    inet_pton(AF_INET, address, &addr);
    bool ok = connect_ipv4(s, addr, port) == 0;
    close(s);
    return ok;
}
}  // namespace

temp_home::temp_home() {
    char templ[] = "/tmp/parlo_proxy_test_XXXXXX";
    if (mkdtemp(templ)) m_path = templ;
    set_home_dir(m_path);
}

temp_home::~temp_home() {
    set_home_dir("");
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

message_capture::message_capture() { set_message_box_handler(this); }
message_capture::~message_capture() { set_message_box_handler(nullptr); }

void message_capture::show_message(const char* text) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_texts.emplace_back(text);
    m_ids.push_back(0);
}
void message_capture::show_text(int id, const std::vector<std::string>&, const char* english) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_texts.emplace_back(english);
    m_ids.push_back(id);
}
std::vector<int> message_capture::ids() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_ids;
}
int message_capture::ask_yes_no(const char* text) {
    show_message(text);
    return ANSWER_NO;
}
int message_capture::ask_yes_no_cancel(const char* text) {
    show_message(text);
    return ANSWER_CANCEL;
}
std::vector<std::string> message_capture::texts() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_texts;
}
std::vector<std::string> message_capture::take() {
    std::lock_guard<std::mutex> lk(m_mutex);
    std::vector<std::string> out;
    out.swap(m_texts);
    m_ids.clear();
    return out;
}

uint16_t free_port(const char* address) {
    socket_t s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, address, &sa.sin_addr);
    socklen_t len = sizeof(sa);
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    close(s);
    return port;
}

echo_server::echo_server(const char* address) {
    m_listen = tcp_listen(address, 0, 8);
    if (m_listen >= 0) {
        struct sockaddr_in sa;
        socklen_t len = sizeof(sa);
        if (getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
            m_port = ntohs(sa.sin_port);
    }
    m_thread = std::thread([this] { run(); });
}

echo_server::~echo_server() {
    m_stop = true;
    m_thread.join();
    close_socket(m_listen);
}

bytes echo_server::received() {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_received;
}

void echo_server::run() {
    if (m_listen < 0) return;
    while (!m_stop) {
        socket_t c = accept_within(m_listen, 50);
        if (c < 0) continue;
        m_connections++;
        char buf[4096];
        while (!m_stop) {
            int ready = wait_readable(c, 50);
            if (ready == 0) continue;
            long r = ready > 0 ? recv_bytes(c, buf, sizeof(buf)) : -1;
            if (r <= 0) break;
            {
                std::lock_guard<std::mutex> lk(m_mutex);
                m_received.append(buf, static_cast<size_t>(r));
            }
            if (!send_all(c, bytes(buf, static_cast<size_t>(r)))) break;
        }
        close(c);
    }
}

scripted_proxy::scripted_proxy(const char* address, std::vector<step> steps)
    : m_steps(std::move(steps)) {
    m_listen = tcp_listen(address, 0, 4);
    struct sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (m_listen >= 0 && getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        m_port = ntohs(sa.sin_port);
    m_thread = std::thread([this] { run(); });
}

scripted_proxy::~scripted_proxy() {
    finish();
    close_socket(m_listen);
}

std::string scripted_proxy::finish() {
    if (m_thread.joinable()) m_thread.join();
    return m_error;
}

void scripted_proxy::run() {
    if (m_listen < 0) {
        m_error = "scripted proxy could not listen";
        return;
    }
    socket_t c = accept_within(m_listen, kStepWaitMs);
    if (c < 0) {
        m_error = "no client connected to the scripted proxy";
        return;
    }
    for (size_t i = 0; i < m_steps.size() && m_error.empty(); i++) {
        const step& st = m_steps[i];
        std::string where = "step " + std::to_string(i) + ": ";
        switch (st.what) {
            case step::expect: {
                bytes got;
                if (!read_exact_within(c, &got, st.data.size(), kStepWaitMs))
                    m_error = where + "expected " + hex(st.data) + "but got only " + hex(got);
                else if (got != st.data)
                    m_error = where + "expected " + hex(st.data) + "but got " + hex(got);
                break;
            }
            case step::reply:
                if (!send_all(c, st.data)) m_error = where + "reply could not be sent";
                break;
            case step::drip:
                set_no_delay(c);
                for (char ch : st.data) {
                    if (!send_all(c, bytes(1, ch))) {
                        m_error = where + "reply could not be sent";
                        break;
                    }
                    if (!testsupport::wait_until(st.taken, kStepWaitMs)) {
                        m_error = where + "the client did not read the reply";
                        break;
                    }
                }
                break;
            case step::close_now:
                close(c);
                c = -1;
                break;
            case step::expect_eof: {
                char extra[256];
                long r = wait_readable(c, kStepWaitMs) > 0 ? recv_bytes(c, extra, sizeof(extra)) : -2;
                if (r == -2) m_error = where + "client kept the connection open";
                if (r > 0) m_error = where + "client sent more: " + hex(bytes(extra, static_cast<size_t>(r)));
                break;
            }
            case step::echo_rest: {
                char buf[4096];
                for (;;) {
                    if (wait_readable(c, kStepWaitMs) <= 0) {
                        m_error = where + "client neither sent nor closed";
                        break;
                    }
                    long r = recv_bytes(c, buf, sizeof(buf));
                    if (r <= 0 || !send_all(c, bytes(buf, static_cast<size_t>(r)))) break;
                }
                break;
            }
        }
        if (c < 0) break;
    }
    if (c >= 0) close(c);
}

bytes b(std::initializer_list<int> values) {
    bytes out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

bytes port_bytes(uint16_t port) { return b({port >> 8, port & 0xff}); }

std::string find_program(std::initializer_list<const char*> names) {
    std::vector<std::string> dirs;
    std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(path, dir, ':');)
        if (!dir.empty()) dirs.push_back(dir);
    for (const char* extra : {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"}) dirs.push_back(extra);
    for (const char* name : names)
        for (const std::string& dir : dirs) {
            std::string full = dir + "/" + name;
            if (access(full.c_str(), X_OK) == 0) return full;
        }
    return "";
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

proxy_process::~proxy_process() { stop(); }

std::string proxy_process::start(const std::vector<std::string>& argv, const std::string& log_path,
                                 const char* address, uint16_t port) {
    // Daemons that fork (the SOCKS server does) leave children behind; as subreaper this
    // process gets them back and can reap them in stop().
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    pid_t pid = -1;
    int r = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (r != 0) return "could not start " + argv[0] + ": " + std::strerror(r);
    m_pid = pid;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return argv[0] + " exited at start; its output:\n" + read_file(log_path);
        }
        if (connects(address, port)) return "";
        usleep(20000);
    }
    stop();
    return argv[0] + " did not accept connections; its output:\n" + read_file(log_path);
}

void proxy_process::stop() {
    if (m_pid <= 0) return;
    pid_t group = m_pid;
    m_pid = -1;
    kill(-group, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool killed = false;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(-group, &status, WNOHANG);
        if (r > 0) continue;
        if (r < 0 && errno != EINTR) break;  // nothing of the group is left
        if (!killed && std::chrono::steady_clock::now() > deadline) {
            kill(-group, SIGKILL);
            killed = true;
        }
        usleep(10000);
    }
}

std::string framed_round_trip(Clink_socket& link, bytes* wire) {
    static const char body[] = "tunnel check 0123456789 abcdefghijklmnopqrstuvwxyz";
    const int body_len = static_cast<int>(sizeof(body) - 1);
    char message[256];
    int len = build_message(message, sizeof(message), 3, 0, 1000, body, body_len);
    if (len != kHeaderLen + body_len) return "message could not be built";
    bytes scrambled(message, static_cast<size_t>(len));
    xor_scramble(scrambled.data() + kHeaderLen, body_len);
    if (wire) *wire = scrambled;

    if (link.my_send_fixed_len(message, len) != len) return "send through the tunnel failed";
    char back[256];
    if (link.my_recv_fixed_len(back, len) <= 0) return "the message did not come back";
    if (bytes(back, static_cast<size_t>(len)) != scrambled)
        return "the message came back changed: " + hex(bytes(back, static_cast<size_t>(len)));
    xor_scramble(back + kHeaderLen, body_len);
    if (bytes(back + kHeaderLen, static_cast<size_t>(body_len)) != body)
        return "the body does not unscramble to the original";
    return "";
}

int connect_within(Clink_socket& link, int seconds) {
    auto done = std::async(std::launch::async, [&link] { return link.connect_to_server(); });
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "connect_to_server did not return within %d s\n", seconds);
        std::abort();
    }
    return done.get();
}

}  // namespace proxy_test
