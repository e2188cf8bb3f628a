#include "server/server.h"

#include <array>
#include <chrono>
#include <csignal>
#include <deque>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <vector>

#include <malloc.h>

#include <asio.hpp>

#include "protocol/commands.h"
#include "server/frame_reader.h"
#include "server/limits.h"
#include "server/relay.h"
#include "server/write_queue.h"

namespace srv {

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;
using asio::ip::udp;

// Freed queue memory after which the heap's free pages go back to the system.
constexpr size_t kTrimAfterBytes = 4 * 1024 * 1024;
// A write that frees at least this much counts towards it (closes and drops always count).
constexpr size_t kTrimBatchBytes = 64 * 1024;

struct Connection {
    explicit Connection(tcp::socket s) : sock(std::move(s)) {}
    tcp::socket sock;
    ConnId id = 0;
    std::string peer;
    FrameReader reader;
    std::array<char, 4096> rbuf{};
    WriteQueue wq;
    bool writing = false;
    bool closing = false;  // close once the queue is written
    bool closed = false;
    Clock::time_point last_active = Clock::now();
    LineBudget budget;  // lines this connection's input may cause
};

unsigned long long ull(ConnId id) {
    return static_cast<unsigned long long>(id);
}

}  // namespace

struct Server::Impl : Transport {
    Impl(Store& store, Log& log, ServerOptions opts)
        : m_log(log),
          m_opts(std::move(opts)),
          m_pool(static_cast<size_t>(m_opts.hash_threads > 0 ? m_opts.hash_threads : 1)),
          m_core(store, *this, log, make_core_options(), make_offload()) {}

    ~Impl() override {
        // Hashing jobs post their continuations to the loop; let them finish first.
        m_pool.join();
    }

    CoreOptions make_core_options() const {
        CoreOptions o;
        o.advertise = m_opts.advertise;
        if (o.advertise.empty())
            o.advertise =
                (m_opts.listen == "0.0.0.0" || m_opts.listen == "::") ? "127.0.0.1" : m_opts.listen;
        o.fast_hash = m_opts.fast_hash;
        o.extensions = m_opts.extensions;
        o.max_per_address = m_opts.max_per_address;
        o.max_unsigned_per_address = m_opts.max_unsigned_per_address;
        return o;
    }

    Offload make_offload() {
        return [this](std::function<void()> work, std::function<void()> done) {
            asio::post(m_pool, [this, work = std::move(work), done = std::move(done)]() mutable {
                work();
                asio::post(m_io, std::move(done));
            });
        };
    }

    int start() {
        asio::error_code ec;
        auto addr = asio::ip::make_address(m_opts.listen, ec);
        if (ec) {
            m_log.line("bad listen address '%s': %s", m_opts.listen.c_str(), ec.message().c_str());
            return -1;
        }
        tcp::endpoint ep(addr, static_cast<unsigned short>(m_opts.port));
        m_acceptor.open(ep.protocol(), ec);
        if (!ec) m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) m_acceptor.bind(ep, ec);
        if (!ec) m_acceptor.listen(1024, ec);
        if (ec) {
            m_log.line("cannot listen on %s:%d: %s", m_opts.listen.c_str(), m_opts.port,
                       ec.message().c_str());
            return -1;
        }
        m_port = m_acceptor.local_endpoint().port();
        if (m_opts.relay_port >= 0) {
            if (m_relay.start(m_opts.listen, m_opts.relay_port, kRelayIdleSeconds) != 0) return -1;
            // The Core hands this relay out; it learns the port (an ephemeral one too) here.
            m_relay_port = m_relay.port();
            if (m_relay_port > kMaxBoardPort)
                m_log.line("relay port %d does not fit the 4-digit field clients read; not handed out",
                           m_relay_port);
            m_core.set_relay_port(m_relay_port);
        }
        udp::endpoint uep(addr, static_cast<unsigned short>(m_port));
        m_udp.open(uep.protocol(), ec);
        if (!ec) m_udp.bind(uep, ec);
        if (ec) {
            m_log.line("cannot bind UDP %s:%d: %s", m_opts.listen.c_str(), m_port,
                       ec.message().c_str());
            return -1;
        }
        if (m_opts.handle_signals) {
            m_signals.add(SIGTERM);
            m_signals.add(SIGINT);
            m_signals.add(SIGUSR1);
            m_signals.add(SIGUSR2);
            wait_signal();
        }
        do_accept();
        do_udp_receive();
        arm_sweep();
        m_log.line("listening on %s:%d (TCP and UDP), advertising %s", m_opts.listen.c_str(),
                   m_port, make_core_options().advertise.c_str());
        return 0;
    }

    void shutdown() {
        if (m_stopping) return;
        m_stopping = true;
        asio::error_code ec;
        m_acceptor.close(ec);
        m_udp.close(ec);
        m_signals.cancel(ec);
        m_sweep.cancel();
        m_accept_retry.cancel();
        m_trim.cancel();
        m_relay.stop();
        for (auto& [id, c] : m_conns) {
            c->closed = true;
            c->sock.close(ec);
        }
        m_conns.clear();
        m_io.stop();
    }

    // ---- Transport ----

    void send(ConnId id, std::string bytes) override {
        auto it = m_conns.find(id);
        if (it == m_conns.end()) return;
        auto c = it->second;
        if (c->closing || c->closed) return;
        const size_t cap = static_cast<size_t>(m_core.signed_in(id) ? kMaxWriteQueueBytes
                                                                     : kMaxWriteQueueBytesBeforeSignIn);
        if (c->wq.memory + c->wq.added_memory(bytes.size()) > cap) {
            m_log.line("connection %llu does not read its replies; closing", ull(id));
            c->closing = true;
            // What the running write reads stays until its handler runs (aborted by the close);
            // the rest is dropped now.
            const size_t before = c->wq.memory;
            c->wq.drop_unsent();
            released(before - c->wq.memory);
            defer_finish(c, "write queue full");
            return;
        }
        c->wq.push(std::move(bytes));
        if (!c->writing) do_write(c);
    }

    // Buffers of that many bytes went back to the allocator. Past a few megabytes, the free
    // memory is handed back to the system a moment later (once for a burst of closes): freed
    // small buffers would otherwise stay in the process's heap.
    void released(size_t n) {
        m_released += n;
        if (m_released < kTrimAfterBytes || m_trim_armed || m_stopping) return;
        m_trim_armed = true;
        m_trim.expires_after(std::chrono::milliseconds(200));
        m_trim.async_wait([this](asio::error_code ec) {
            m_trim_armed = false;
            if (ec || m_stopping) return;
            m_released = 0;
            malloc_trim(0);
        });
    }

    void close(ConnId id) override {
        auto it = m_conns.find(id);
        if (it == m_conns.end()) return;
        auto c = it->second;
        if (c->closing || c->closed) return;
        c->closing = true;
        if (!c->writing) defer_finish(c, "closed by server");
    }

    // The Core may ask for a close while it handles a message of that very connection; the
    // teardown (which calls back into the Core) therefore runs as a separate loop step.
    void defer_finish(const std::shared_ptr<Connection>& c, const char* reason) {
        asio::post(m_io, [this, c, reason] { finish(c, reason); });
    }

    void finish(const std::shared_ptr<Connection>& c, const std::string& reason) {
        if (c->closed) return;
        c->closed = true;
        asio::error_code ec;
        c->sock.shutdown(tcp::socket::shutdown_both, ec);
        c->sock.close(ec);
        const size_t before = c->wq.memory;
        if (!c->writing) {
            c->wq.drop_unsent();
            released(before - c->wq.memory);
        }
        m_conns.erase(c->id);
        m_log.line("connection %llu from %s ended: %s", ull(c->id), c->peer.c_str(),
                   reason.c_str());
        m_core.on_close(c->id);
    }

    void do_write(const std::shared_ptr<Connection>& c) {
        c->writing = true;
        std::vector<asio::const_buffer> bufs;
        size_t count = c->wq.batch(&bufs);
        asio::async_write(c->sock, bufs, [this, c, count](asio::error_code ec, size_t n) {
            c->writing = false;
            const size_t before = c->wq.memory;
            if (c->closed || ec) {
                // The connection ends: its buffers go now, not when the last handle lets go.
                c->wq.in_flight = 0;
                c->wq.drop_unsent();
                released(before - c->wq.memory);
                if (!c->closed) finish(c, "write failed: " + ec.message());
                return;
            }
            c->wq.written(count, n);
            // Everyday writes free a little each; only a queue that ran long counts.
            if (before - c->wq.memory >= kTrimBatchBytes) released(before - c->wq.memory);
            if (!c->wq.messages.empty())
                do_write(c);
            else if (c->closing)
                finish(c, "closed by server");
        });
    }

    // A connect attempt to a client's relay port, given up after kRelayProbeMs.
    void probe(const std::string& address, int port, std::function<void(bool)> done) override {
        asio::error_code ec;
        auto addr = asio::ip::make_address(address, ec);
        if (ec || port <= 0 || port > 65535) {
            asio::post(m_io, [done = std::move(done)] { done(false); });
            return;
        }
        struct Probe {
            explicit Probe(asio::io_context& io) : sock(io), timer(io) {}
            tcp::socket sock;
            asio::steady_timer timer;
        };
        auto p = std::make_shared<Probe>(m_io);
        p->timer.expires_after(std::chrono::milliseconds(kRelayProbeMs));
        p->timer.async_wait([p](asio::error_code e) {
            asio::error_code ignored;
            if (!e) p->sock.close(ignored);  // ends the connect with operation_aborted
        });
        p->sock.async_connect(tcp::endpoint(addr, static_cast<unsigned short>(port)),
                              [this, p, done = std::move(done)](asio::error_code e) {
                                  p->timer.cancel();
                                  asio::error_code ignored;
                                  p->sock.close(ignored);
                                  if (!m_stopping) done(!e);
                              });
    }

    // ---- accepting and reading ----

    void do_accept() {
        m_acceptor.async_accept([this](asio::error_code ec, tcp::socket s) {
            if (m_stopping) return;
            if (ec) {
                if (ec == asio::error::operation_aborted) return;
                // Out of descriptors and the like: wait a moment instead of spinning.
                m_log.line("accept failed: %s", ec.message().c_str());
                m_accept_retry.expires_after(std::chrono::milliseconds(100));
                m_accept_retry.async_wait([this](asio::error_code e) {
                    if (!e && !m_stopping) do_accept();
                });
                return;
            }
            auto c = std::make_shared<Connection>(std::move(s));
            asio::error_code ignored;
            c->sock.set_option(tcp::no_delay(true), ignored);
            c->id = m_next_id++;
            auto remote = c->sock.remote_endpoint(ignored);
            c->peer = remote.address().to_string();
            m_conns[c->id] = c;
            m_log.line("connection %llu from %s:%u", ull(c->id), c->peer.c_str(),
                       static_cast<unsigned>(remote.port()));
            m_core.on_open(c->id, c->peer);
            start_read(c);
            do_accept();
        });
    }

    void start_read(const std::shared_ptr<Connection>& c) {
        c->sock.async_read_some(asio::buffer(c->rbuf), [this, c](asio::error_code ec, size_t n) {
            if (c->closed) return;
            if (ec) {
                finish(c, ec == asio::error::eof ? std::string("closed by peer") : ec.message());
                return;
            }
            c->last_active = Clock::now();
            c->reader.feed(c->rbuf.data(), n);
            msg_header h;
            std::string body;
            while (!c->closed && !c->closing) {
                auto r = c->reader.next(&h, &body);
                if (r == FrameReader::Result::kNeedMore) break;
                if (r == FrameReader::Result::kMessage) {
                    m_core.on_message(c->id, h, std::move(body));
                } else if (r == FrameReader::Result::kFormatError) {
                    std::string shown = c->reader.bad_header();
                    for (char& ch : shown)
                        if (static_cast<unsigned char>(ch) < 0x20 ||
                            static_cast<unsigned char>(ch) > 0x7e)
                            ch = '?';
                    m_log.limited(c->budget, "connection %llu: command format error at %d: '%s'",
                                  ull(c->id), c->reader.error_pos(), shown.c_str());
                } else if (r == FrameReader::Result::kBadLength) {
                    m_log.limited(c->budget,
                                  "connection %llu: command %d with negative len %d ignored",
                                  ull(c->id), h.command, h.len);
                } else if (r == FrameReader::Result::kOversized) {
                    m_log.limited(c->budget,
                                  "connection %llu: command %d with len %d too long; body skipped",
                                  ull(c->id), h.command, h.len);
                } else {
                    finish(c, "stream cannot be resynchronised");
                    return;
                }
            }
            if (!c->closed && !c->closing) start_read(c);
        });
    }

    // ---- UDP ----

    void do_udp_receive() {
        m_udp.async_receive_from(
            asio::buffer(m_udp_buf), m_udp_from, [this](asio::error_code ec, size_t n) {
                if (m_stopping || ec == asio::error::operation_aborted) return;
                if (!ec) {
                    std::string ack;
                    const std::string from = m_udp_from.address().to_string();
                    const int rc =
                        m_core.on_datagram(std::string_view(m_udp_buf.data(), n), from, &ack);
                    if (rc == 0) {
                        asio::error_code ignored;
                        m_udp.send_to(asio::buffer(ack), m_udp_from, 0, ignored);
                    } else if (rc == -1) {
                        m_log.limited(m_udp_budget,
                                      "malformed datagram of %zu bytes from %s dropped", n,
                                      from.c_str());
                    }
                }
                do_udp_receive();
            });
    }

    // ---- timers and signals ----

    void arm_sweep() {
        m_sweep.expires_after(std::chrono::seconds(5));
        m_sweep.async_wait([this](asio::error_code ec) {
            if (ec || m_stopping) return;
            auto limit = Clock::now() - std::chrono::seconds(m_opts.idle_seconds);
            std::vector<std::shared_ptr<Connection>> idle;
            for (auto& [id, c] : m_conns)
                if (c->last_active < limit && !c->closed) idle.push_back(c);
            for (auto& c : idle) finish(c, "idle");
            arm_sweep();
        });
    }

    void wait_signal() {
        m_signals.async_wait([this](asio::error_code ec, int sig) {
            if (ec) return;
            if (sig == SIGUSR1 || sig == SIGUSR2) {
                send_notice(sig == SIGUSR1 ? SRV_NOTICE1 : SRV_NOTICE2);
                wait_signal();
                return;
            }
            m_log.line("signal %d: shutting down", sig);
            shutdown();
        });
    }

    void send_notice(int command) {
        if (m_opts.notice_file.empty()) {
            m_log.line("notice signal without --notice-file ignored");
            return;
        }
        std::ifstream in(m_opts.notice_file, std::ios::binary);
        if (!in) {
            m_log.line("cannot read notice file %s", m_opts.notice_file.c_str());
            return;
        }
        std::string text(kNoticeMax + 1, '\0');
        in.read(text.data(), kNoticeMax);
        text.resize(static_cast<size_t>(in.gcount()));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.empty()) {
            m_log.line("notice file %s is empty", m_opts.notice_file.c_str());
            return;
        }
        m_core.broadcast_notice(command, text);
    }

    Log& m_log;
    ServerOptions m_opts;
    asio::io_context m_io{1};
    asio::thread_pool m_pool;
    Core m_core;
    tcp::acceptor m_acceptor{m_io};
    udp::socket m_udp{m_io};
    udp::endpoint m_udp_from;
    std::array<char, 2048> m_udp_buf{};
    LineBudget m_udp_budget;
    asio::signal_set m_signals{m_io};
    asio::steady_timer m_sweep{m_io};
    asio::steady_timer m_accept_retry{m_io};
    asio::steady_timer m_trim{m_io};
    size_t m_released = 0;  // bytes of queue buffers freed since the last trim
    bool m_trim_armed = false;
    std::unordered_map<ConnId, std::shared_ptr<Connection>> m_conns;
    Relay m_relay{m_io, m_log};
    ConnId m_next_id = 1;
    int m_port = 0;
    int m_relay_port = 0;
    bool m_stopping = false;
};

Server::Server(Store& store, Log& log, ServerOptions options)
    : m_impl(std::make_unique<Impl>(store, log, std::move(options))) {}

Server::~Server() = default;

int Server::start() {
    return m_impl->start();
}

int Server::run() {
    m_impl->m_io.run();
    return 0;
}

void Server::stop() {
    Impl* impl = m_impl.get();
    asio::post(impl->m_io, [impl] { impl->shutdown(); });
}

int Server::port() const {
    return m_impl->m_port;
}

int Server::relay_port() const {
    return m_impl->m_relay_port;
}

Core& Server::core() {
    return m_impl->m_core;
}

}  // namespace srv
