// N simulated clients against a parlo-server child process on loopback: each signs in, fetches
// its group and contact lists and sets its presence. Reports sign-ins per second, the 99th
// percentile of the reply latency (request sent to its last reply read) and the server's memory
// per connection (VmRSS growth divided by N). A second benchmark times a real sign-in while
// another address floods the server with wrong passwords.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/framing.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* kAddr = "127.0.7.1";
constexpr int kPort = 9015;

std::string frame(int command, const std::string& body = {}) {
    std::string out(kHeaderLen + body.size(), '\0');
    build_message(out.data(), static_cast<int>(out.size()), 0, 0, command, body.data(),
                  static_cast<int>(body.size()));
    xor_scramble(out.data() + kHeaderLen, static_cast<long>(body.size()));
    return out;
}

std::string register_record(const std::string& email) {
    std::string r(512, '\0');
    auto put = [&](size_t off, size_t width, const std::string& s) {
        std::memcpy(r.data() + off, s.data(), std::min(s.size(), width));
        r[off + width] = ':';
    };
    put(0, 127, email);
    put(128, 63, "pw");
    put(192, 31, "Bench");
    put(224, 31, "User");
    put(256, 127, "bench");
    put(384, 63, "");
    put(448, 63, "");
    return r;
}

// from: local address to connect from (nullptr: the system's choice).
int connect_blocking(const char* from = nullptr) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (from != nullptr) {
        sockaddr_in b{};
        b.sin_family = AF_INET;
        inet_pton(AF_INET, from, &b.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kPort);
    inet_pton(AF_INET, kAddr, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Reads whole messages from a buffer; returns the command numbers found.
void take_messages(std::string& buf, std::vector<int>& commands) {
    for (;;) {
        if (buf.size() < static_cast<size_t>(kHeaderLen)) return;
        msg_header h;
        if (parse_header(buf.data(), &h) != 0 || h.len < 0) {
            buf.clear();
            return;
        }
        if (buf.size() < static_cast<size_t>(kHeaderLen + h.len)) return;
        commands.push_back(h.command);
        buf.erase(0, static_cast<size_t>(kHeaderLen + h.len));
    }
}

long rss_kb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void raise_fd_limit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

struct Child {
    pid_t pid = -1;
    std::string db;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        for (const char* s : {"", "-wal", "-shm"}) std::remove((db + s).c_str());
    }
};

// real_hashes: the demo accounts with the normal Argon2id limits instead of fast test hashes.
bool start_server(Child& c, bool real_hashes = false) {
    c.db = "/tmp/parlo-server-bench-" + std::to_string(getpid()) + ".db";
    for (const char* s : {"", "-wal", "-shm"}) std::remove((c.db + s).c_str());
    c.pid = fork();
    if (c.pid == 0) {
        if (real_hashes)
            execl(PARLO_SERVER_BIN, PARLO_SERVER_BIN, "--listen", kAddr, "--db", c.db.c_str(),
                  "--seed-demo", "--log", "/dev/null", static_cast<char*>(nullptr));
        else
            execl(PARLO_SERVER_BIN, PARLO_SERVER_BIN, "--listen", kAddr, "--db", c.db.c_str(),
                  "--fast-hash", "--log", "/dev/null", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200; i++) {
        int fd = connect_blocking();
        if (fd >= 0) {
            close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// Registers n accounts over one connection, 50 requests in flight at a time.
bool register_users(int n) {
    int fd = connect_blocking();
    if (fd < 0) return false;
    std::string buf;
    for (int done = 0; done < n;) {
        int batch = std::min(50, n - done);  // what a connection may queue before sign-in
        std::string out;
        for (int i = 0; i < batch; i++)
            out += frame(250, register_record("user" + std::to_string(done + i) + "@bench.test"));
        if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
            return false;
        std::vector<int> cmds;
        while (static_cast<int>(cmds.size()) < batch) {
            char tmp[8192];
            ssize_t r = recv(fd, tmp, sizeof tmp, 0);
            if (r <= 0) return false;
            buf.append(tmp, static_cast<size_t>(r));
            take_messages(buf, cmds);
        }
        done += batch;
    }
    close(fd);
    return true;
}

struct Client {
    int fd = -1;
    int step = 0;  // 0 sign-in, 1 groups, 2 contacts, 3 presence, 4 done
    Clock::time_point sent;
    std::string buf;
};

void BM_SignInListsPresence(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    raise_fd_limit();
    for (auto _ : state) {
        Child server;
        if (!start_server(server) || !register_users(n)) {
            state.SkipWithError("server did not start or registration failed");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        long rss_before = rss_kb(server.pid);

        std::vector<Client> clients(static_cast<size_t>(n));
        for (auto& c : clients) {
            c.fd = connect_blocking();
            if (c.fd < 0) {
                state.SkipWithError("connect failed (descriptor limit?)");
                return;
            }
            fcntl(c.fd, F_SETFL, O_NONBLOCK);
        }
        const int requests[] = {130, 160, 170, 360};
        const int finals[] = {131, 163, 173, 361};
        std::vector<double> latencies_us;
        latencies_us.reserve(static_cast<size_t>(n) * 4);
        auto send_step = [&](Client& c, int i) {
            std::string msg;
            if (c.step == 0)
                msg = frame(130, "user" + std::to_string(i) + "@bench.test:pw");
            else if (c.step == 3)
                msg = frame(360, "         1");
            else
                msg = frame(requests[c.step]);
            c.sent = Clock::now();
            send(c.fd, msg.data(), msg.size(), MSG_NOSIGNAL);
        };
        auto start = Clock::now();
        for (int i = 0; i < n; i++) send_step(clients[static_cast<size_t>(i)], i);
        Clock::time_point last_login = start;
        int finished = 0;
        std::vector<pollfd> pfds(static_cast<size_t>(n));
        while (finished < n) {
            for (int i = 0; i < n; i++)
                pfds[static_cast<size_t>(i)] = {clients[static_cast<size_t>(i)].fd,
                                                clients[static_cast<size_t>(i)].step < 4
                                                    ? static_cast<short>(POLLIN)
                                                    : static_cast<short>(0),
                                                0};
            if (poll(pfds.data(), pfds.size(), 10000) <= 0) {
                state.SkipWithError("server stopped answering");
                return;
            }
            for (int i = 0; i < n; i++) {
                if (!(pfds[static_cast<size_t>(i)].revents & POLLIN)) continue;
                Client& c = clients[static_cast<size_t>(i)];
                char tmp[16384];
                ssize_t r = recv(c.fd, tmp, sizeof tmp, 0);
                if (r <= 0) {
                    state.SkipWithError("connection lost");
                    return;
                }
                c.buf.append(tmp, static_cast<size_t>(r));
                std::vector<int> cmds;
                take_messages(c.buf, cmds);
                for (int cmd : cmds) {
                    if (c.step >= 4 || cmd != finals[c.step]) continue;
                    auto now = Clock::now();
                    latencies_us.push_back(
                        std::chrono::duration<double, std::micro>(now - c.sent).count());
                    if (c.step == 0) last_login = now;
                    if (++c.step == 4)
                        finished++;
                    else
                        send_step(c, i);
                }
            }
        }
        auto end = Clock::now();
        long rss_after = rss_kb(server.pid);
        for (auto& c : clients) close(c.fd);

        std::sort(latencies_us.begin(), latencies_us.end());
        double p99 = latencies_us[static_cast<size_t>(0.99 * (latencies_us.size() - 1))];
        double login_secs = std::chrono::duration<double>(last_login - start).count();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        state.counters["logins_per_s"] = n / (login_secs > 0 ? login_secs : 1e-9);
        state.counters["p99_reply_us"] = p99;
        state.counters["rss_kb_per_conn"] =
            static_cast<double>(rss_after - rss_before) / static_cast<double>(n);
        state.counters["server_rss_mb"] = static_cast<double>(rss_after) / 1024.0;
    }
}

// Reads from fd until `command` arrives; false after 30 s or a closed connection.
bool wait_for(int fd, int command) {
    std::string buf;
    std::vector<int> cmds;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) return false;
        char tmp[4096];
        ssize_t r = recv(fd, tmp, sizeof tmp, 0);
        if (r <= 0) return false;
        buf.append(tmp, static_cast<size_t>(r));
        take_messages(buf, cmds);
        if (std::find(cmds.begin(), cmds.end(), command) != cmds.end()) return true;
    }
}

// 150 connections from one address send wrong passwords for Alice; then a real user signs in
// from another address: Bob (range 0) or Alice herself (range 1). Reports the real sign-in's
// time and how long the server took to answer every guess.
void BM_RealSignInDuringGuessFlood(benchmark::State& state) {
    constexpr int kGuesses = 150;
    const bool same_account = state.range(0) == 1;
    raise_fd_limit();
    for (auto _ : state) {
        Child server;
        if (!start_server(server, true)) {
            state.SkipWithError("server did not start");
            return;
        }
        // The same sign-in without a flood, for comparison on this machine.
        int quiet = connect_blocking("127.0.7.201");
        std::string carol = frame(130, "carol@example.com:demo1234");
        const auto quiet_start = Clock::now();
        send(quiet, carol.data(), carol.size(), MSG_NOSIGNAL);
        const bool quiet_ok = wait_for(quiet, 131);
        const auto quiet_end = Clock::now();
        close(quiet);
        std::vector<int> flood;
        for (int i = 0; i < kGuesses; i++) {
            int fd = connect_blocking("127.0.7.100");
            if (fd < 0) {
                state.SkipWithError("flood connect failed");
                return;
            }
            std::string guess = frame(130, "alice@example.com:guess" + std::to_string(i));
            send(fd, guess.data(), guess.size(), MSG_NOSIGNAL);
            flood.push_back(fd);
        }
        const auto flood_start = Clock::now();
        int real = connect_blocking("127.0.7.200");
        std::string login =
            frame(130, same_account ? "alice@example.com:demo1234" : "bob@example.com:demo1234");
        const auto start = Clock::now();
        send(real, login.data(), login.size(), MSG_NOSIGNAL);
        const bool ok = wait_for(real, 131);
        const auto signed_in = Clock::now();
        int answered = 0;
        for (int fd : flood) answered += wait_for(fd, 132) ? 1 : 0;
        const auto flood_end = Clock::now();
        close(real);
        for (int fd : flood) close(fd);
        if (!ok || !quiet_ok) {
            state.SkipWithError("the real sign-in failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(signed_in - start).count());
        state.counters["real_signin_ms"] =
            std::chrono::duration<double, std::milli>(signed_in - start).count();
        state.counters["quiet_signin_ms"] =
            std::chrono::duration<double, std::milli>(quiet_end - quiet_start).count();
        state.counters["guesses_answered"] = answered;
        state.counters["flood_s"] = std::chrono::duration<double>(flood_end - flood_start).count();
    }
}

BENCHMARK(BM_RealSignInDuringGuessFlood)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_SignInListsPresence)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
