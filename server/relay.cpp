#include "server/relay.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <vector>

#include "peer/slave_header.h"
#include "server/limits.h"
#include "server/write_queue.h"

namespace srv {

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

struct RelayConn {
    explicit RelayConn(tcp::socket s) : sock(std::move(s)) {}
    tcp::socket sock;
    uint64_t id = 0;
    int user_id = 0;  // registered by a frame with tick 0
    std::string peer;
    std::string in;        // received, not yet handled
    size_t discard = 0;    // bytes of a dropped message still to skip
    std::array<char, 8192> rbuf{};
    WriteQueue wq;
    bool writing = false;
    LineBudget budget;  // lines this connection's input may cause
    bool closed = false;
    Clock::time_point last_active = Clock::now();  // last bytes read from it
    // Reading stops while a message waits for room in the queue of connection paused_on; that
    // connection's drain (or end) lets it go on. TCP then holds the sender back.
    bool paused = false;
    uint64_t paused_on = 0;
    std::vector<uint64_t> waiters;  // connections paused on this one's queue
    // When the queue last got shorter through a write, or filled from empty: a receiver that
    // takes nothing of it for the idle limit is closed.
    Clock::time_point last_drained = Clock::now();
};

}  // namespace

struct Relay::Impl {
    Impl(asio::io_context& io, Log& log) : m_io(io), m_log(log) {}

    int start(const std::string& address, int port, int idle_seconds, int hold_seconds) {
        asio::error_code ec;
        auto addr = asio::ip::make_address(address, ec);
        if (ec) {
            m_log.line("relay: bad address '%s': %s", address.c_str(), ec.message().c_str());
            return -1;
        }
        tcp::endpoint ep(addr, static_cast<unsigned short>(port));
        m_acceptor.open(ep.protocol(), ec);
        if (!ec) m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) m_acceptor.bind(ep, ec);
        if (!ec) m_acceptor.listen(128, ec);
        if (ec) {
            m_log.line("relay: cannot listen on %s:%d: %s", address.c_str(), port,
                       ec.message().c_str());
            return -1;
        }
        m_port = m_acceptor.local_endpoint().port();
        m_idle = std::chrono::seconds(idle_seconds);
        m_hold = std::min(m_idle, std::chrono::seconds(hold_seconds));
        m_sweep_every = std::clamp(m_hold / 2, std::chrono::seconds(1), std::chrono::seconds(10));
        do_accept();
        arm_sweep();
        m_log.line("relay listening on %s:%d", address.c_str(), m_port);
        return 0;
    }

    void stop() {
        m_stopping = true;
        asio::error_code ec;
        m_acceptor.close(ec);
        m_sweep.cancel();
        for (auto& [id, c] : m_conns) {
            c->closed = true;
            c->sock.close(ec);
        }
        m_conns.clear();
    }

    void do_accept() {
        m_acceptor.async_accept([this](asio::error_code ec, tcp::socket s) {
            if (m_stopping || ec == asio::error::operation_aborted) return;
            if (ec) {
                m_log.line("relay: accept failed: %s", ec.message().c_str());
                // Out of descriptors and the like: try again on the next sweep.
                m_accept_paused = true;
                return;
            }
            if (m_conns.size() >= static_cast<size_t>(kRelayMaxConnections)) {
                asio::error_code ignored;
                s.close(ignored);
                m_log.line("relay: %d connections; a new one refused", kRelayMaxConnections);
            } else {
                auto c = std::make_shared<RelayConn>(std::move(s));
                asio::error_code ignored;
                c->sock.set_option(tcp::no_delay(true), ignored);
                c->id = m_next_id++;
                c->peer = c->sock.remote_endpoint(ignored).address().to_string();
                m_conns[c->id] = c;
                start_read(c);
            }
            do_accept();
        });
    }

    void finish(const std::shared_ptr<RelayConn>& c, const char* reason) {
        if (c->closed) return;
        c->closed = true;
        asio::error_code ec;
        c->sock.close(ec);
        release_waiters(c);
        m_conns.erase(c->id);
        if (c->user_id != 0)
            m_log.line("relay: connection of user %d from %s ended: %s", c->user_id,
                       c->peer.c_str(), reason);
    }

    void start_read(const std::shared_ptr<RelayConn>& c) {
        c->sock.async_read_some(asio::buffer(c->rbuf), [this, c](asio::error_code ec, size_t n) {
            if (c->closed) return;
            if (ec) {
                finish(c, ec == asio::error::eof ? "closed by peer" : "read failed");
                return;
            }
            c->last_active = Clock::now();
            c->in.append(c->rbuf.data(), n);
            handle_input(c);
            if (!c->closed && !c->paused) start_read(c);
        });
    }

    void handle_input(const std::shared_ptr<RelayConn>& c) {
        size_t pos = 0;
        for (;;) {
            size_t avail = c->in.size() - pos;
            if (c->discard > 0) {
                size_t n = c->discard < avail ? c->discard : avail;
                pos += n;
                c->discard -= n;
                if (c->discard > 0) break;
                continue;
            }
            if (avail < static_cast<size_t>(kOuterHeaderLen)) break;
            const char* h = c->in.data() + pos;
            int bad = check_outer_header(h);
            if (bad >= 0) {
                std::string shown(h, kOuterHeaderLen);
                for (char& ch : shown)
                    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7e)
                        ch = '?';
                m_log.limited(c->budget, "relay: outer header format error at %d: '%s'", bad,
                              shown.c_str());
                // As a client's relay does: the header and what follows, up to 2048 bytes, go.
                size_t rest = avail - kOuterHeaderLen;
                pos += kOuterHeaderLen + (rest < static_cast<size_t>(kRelayBadHeaderDrop)
                                              ? rest
                                              : static_cast<size_t>(kRelayBadHeaderDrop));
                continue;
            }
            outer_header oh;
            parse_outer_header(h, &oh);
            const int tick = oh.send_tick;
            const int from = oh.first_id;
            const int to = oh.second_id;
            const size_t len = static_cast<size_t>(oh.payload_len);
            if (tick == 0) {
                // A registration frame; a payload behind it is skipped.
                if (c->user_id != from)
                    m_log.limited(c->budget, "relay: user %d registered from %s", from, c->peer.c_str());
                c->user_id = from;
                pos += kOuterHeaderLen;
                c->discard = len;
                continue;
            }
            if (len > static_cast<size_t>(kOuterPayloadCap)) {
                // Passed on cut, the receiver would read the next message as the rest of it.
                m_log.limited(c->budget, "relay: message of %zu bytes from %d to %d dropped", len,
                              from, to);
                pos += kOuterHeaderLen;
                c->discard = len;
                continue;
            }
            if (avail < kOuterHeaderLen + len) break;
            if (!forward(c, to, h, kOuterHeaderLen + len)) break;  // waits in c->in
            pos += kOuterHeaderLen + len;
        }
        c->in.erase(0, pos);
    }

    // The payload stays as it came: the scrambling starts at the payload's first byte, so
    // unscrambling and scrambling again would give the same bytes.
    // Returns false when the receiver's queue has no room for the message: the sender c is then
    // paused on it and the message stays unread until the queue drains or the receiver ends.
    bool forward(const std::shared_ptr<RelayConn>& c, int to, const char* message, size_t size) {
        if (to == 0) return true;
        for (auto& [id, d] : m_conns) {
            if (d->user_id != to || d->closed) continue;
            if (d->wq.bytes + size > static_cast<size_t>(kMaxWriteQueueBytes)) {
                // The queue is not empty, so a write is under way and its end wakes c.
                c->paused = true;
                c->paused_on = d->id;
                d->waiters.push_back(c->id);
                m_pauses.fetch_add(1, std::memory_order_relaxed);
                return false;
            }
            if (d->wq.messages.empty()) d->last_drained = Clock::now();
            d->wq.push(std::string(message, size));
            if (d->wq.bytes > m_peak_queued.load(std::memory_order_relaxed))
                m_peak_queued.store(d->wq.bytes, std::memory_order_relaxed);
            if (!d->writing) do_write(d);
            return true;
        }
        return true;
    }

    // Partial writes count as progress, so a receiver that reads slowly is told apart from one
    // that reads nothing.
    void do_write(const std::shared_ptr<RelayConn>& c) {
        c->writing = true;
        std::vector<asio::const_buffer> bufs;
        c->wq.batch(&bufs);
        c->sock.async_write_some(bufs, [this, c](asio::error_code ec, size_t n) {
            c->writing = false;
            if (c->closed) return;
            if (ec) {
                finish(c, "write failed");
                return;
            }
            c->wq.consumed(n);
            if (n > 0) c->last_drained = Clock::now();
            if (!c->wq.messages.empty()) do_write(c);
            // Resuming at half the cap rather than at the first free byte keeps the senders
            // from waking for every write.
            if (!c->waiters.empty() && c->wq.bytes <= static_cast<size_t>(kMaxWriteQueueBytes) / 2)
                release_waiters(c);
        });
    }

    // The senders paused on d read on, each from a handler of its own: the one running now may
    // be in the middle of d's write or end.
    void release_waiters(const std::shared_ptr<RelayConn>& d) {
        if (m_stopping) return;
        std::vector<uint64_t> waiting;
        waiting.swap(d->waiters);
        for (uint64_t id : waiting) {
            auto it = m_conns.find(id);
            if (it == m_conns.end()) continue;
            asio::post(m_io, [this, s = it->second, on = d->id] { resume(s, on); });
        }
    }

    void resume(const std::shared_ptr<RelayConn>& s, uint64_t on) {
        if (s->closed || !s->paused || s->paused_on != on) return;
        s->paused = false;
        s->paused_on = 0;
        s->last_active = Clock::now();  // its silence while paused was ours
        handle_input(s);  // may pause it again at once
        if (!s->closed && !s->paused) start_read(s);
    }

    void arm_sweep() {
        m_sweep.expires_after(m_sweep_every);
        m_sweep.async_wait([this](asio::error_code ec) {
            if (ec || m_stopping) return;
            auto now = Clock::now();
            auto limit = now - m_idle;
            std::vector<std::shared_ptr<RelayConn>> stuck, idle;
            for (auto& [id, c] : m_conns) {
                auto still_since = c->waiters.empty() ? limit : now - m_hold;
                if (!c->wq.messages.empty() && c->last_drained < still_since)
                    stuck.push_back(c);
                else if (!c->paused && c->last_active < limit)
                    idle.push_back(c);  // a paused connection is silent because of us
            }
            for (auto& c : stuck) finish(c, "does not read what is relayed to it");
            for (auto& c : idle) finish(c, "idle");
            if (m_accept_paused) {
                m_accept_paused = false;
                do_accept();
            }
            arm_sweep();
        });
    }

    asio::io_context& m_io;
    Log& m_log;
    tcp::acceptor m_acceptor{m_io};
    asio::steady_timer m_sweep{m_io};
    std::map<uint64_t, std::shared_ptr<RelayConn>> m_conns;  // in accept order
    std::chrono::seconds m_idle{kRelayIdleSeconds};
    std::chrono::seconds m_hold{kRelayHoldSeconds};
    std::chrono::seconds m_sweep_every{10};
    // Written on the loop's thread, read by stats() from any thread.
    std::atomic<size_t> m_peak_queued{0};
    std::atomic<uint64_t> m_pauses{0};
    uint64_t m_next_id = 1;
    int m_port = 0;
    bool m_stopping = false;
    bool m_accept_paused = false;
};

Relay::Relay(asio::io_context& io, Log& log) : m_impl(std::make_unique<Impl>(io, log)) {}

Relay::~Relay() = default;

int Relay::start(const std::string& address, int port, int idle_seconds, int hold_seconds) {
    return m_impl->start(address, port, idle_seconds, hold_seconds);
}

void Relay::stop() {
    m_impl->stop();
}

int Relay::port() const {
    return m_impl->m_port;
}

Relay::Stats Relay::stats() const {
    return {m_impl->m_peak_queued.load(std::memory_order_relaxed),
            m_impl->m_pauses.load(std::memory_order_relaxed)};
}

}  // namespace srv
