#include "protocol/server_link.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/debug_log.h"
#include "protocol/framing.h"

Clink_socket g_main_link;
Cevent g_recv_event;

namespace {
// The main connection's send queue and its writer. Defined after g_main_link, so it is destroyed
// (and its thread joined) before the connection.
class main_writer {
public:
    ~main_writer() { stop(); }

    int push(std::vector<char> message) {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_bytes + message.size() > kMainQueueBytes) {
            log_line("main connection queue full (%zu bytes), command dropped\r\n", m_bytes);
            return -1;
        }
        m_bytes += message.size();
        m_queue.push_back(std::move(message));
        // While a stop joins the old writer, the new one starts when the join is over.
        if (!m_thread.joinable() && !m_joining && !start_locked()) {
            m_bytes -= m_queue.back().size();
            m_queue.pop_back();
            return -1;
        }
        m_wake.notify_one();
        return 0;
    }

    bool flush(int ms) {
        std::unique_lock<std::mutex> lk(m_mutex);
        return m_moved.wait_for(lk, std::chrono::milliseconds(ms),
                                [this] { return m_queue.empty() && !m_writing; });
    }

    void stop() {
        std::thread t;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_epoch++;
            m_queue.clear();
            m_bytes = 0;
            m_joining = true;
            t = std::move(m_thread);
        }
        m_wake.notify_all();
        if (t.joinable()) t.join();
        std::lock_guard<std::mutex> lk(m_mutex);
        m_joining = false;
        m_writing = false;
        if (!m_queue.empty()) start_locked();
        m_moved.notify_all();
    }

private:
    bool start_locked() {
        try {
            m_thread = std::thread([this, epoch = m_epoch] { run(epoch); });
            return true;
        } catch (const std::system_error&) {
            log_line("could not start the main connection writer\r\n");
            return false;
        }
    }

    void run(uint64_t epoch) {
        std::unique_lock<std::mutex> lk(m_mutex);
        for (;;) {
            m_wake.wait(lk, [&] { return m_epoch != epoch || !m_queue.empty(); });
            if (m_epoch != epoch) return;
            std::vector<char> message = std::move(m_queue.front());
            m_queue.pop_front();
            m_writing = true;
            lk.unlock();
            g_main_link.send_with_reconnect(message.data(), static_cast<int>(message.size()));
            g_recv_event.signal();
            lk.lock();
            if (m_epoch != epoch) return;  // stopped meanwhile: the count was reset
            m_bytes -= message.size();
            m_writing = false;
            m_moved.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_moved;
    std::deque<std::vector<char>> m_queue;
    size_t m_bytes = 0;
    bool m_writing = false;
    bool m_joining = false;
    uint64_t m_epoch = 0;
    std::thread m_thread;
};
main_writer g_main_writer;

// Builds a message of at most capacity bytes and sends it on socket (the main connection: puts it
// on its queue). Returns 0 or -1.
int send_built(Clink_socket* socket, int board_num, int command, const void* body, int len,
               int capacity, const char* who) {
    std::vector<char> buf(static_cast<size_t>(capacity));
    int total = build_message(buf.data(), capacity, 0, board_num, command, body, len);
    if (total < 0) {
        log_line("body of %d bytes too long in %s, command:%d\r\n", len, who, command);
        return -1;
    }
    buf.resize(static_cast<size_t>(total));
    if (socket == &g_main_link) return g_main_writer.push(std::move(buf));
    socket->send_with_reconnect(buf.data(), total);
    return 0;
}

bool buf_len_ok(int count, const char* who) {
    if (static_cast<unsigned>(count) > static_cast<unsigned>(kBufBuilderMaxBody)) {
        log_line("buf_len not good in %s, buf_len:%d\r\n", who, count);
        return false;
    }
    return true;
}
}  // namespace

bool main_link_flush(int ms) {
    return g_main_writer.flush(ms);
}

void main_link_writer_stop() {
    g_main_writer.stop();
}

int general_command_to_server(int command) {
    return send_built(&g_main_link, 0, command, nullptr, 0, kTextBuilderSize,
                      "general_command_to_server");
}

int general_str_command_to_server(int command, const char* text) {
    return send_built(&g_main_link, 0, command, text, static_cast<int>(std::strlen(text)),
                      kTextBuilderSize, "general_str_command_to_server");
}

int general_buf_command_to_server(int command, const void* bytes, int count) {
    if (!buf_len_ok(count, "general_buf_command_to_server")) return -1;
    return send_built(&g_main_link, 0, command, bytes, count, kHeaderLen + kBufBuilderMaxBody + 4,
                      "general_buf_command_to_server");
}

int general_str_command_to_socket(int command, const char* text, Clink_socket* socket) {
    return send_built(socket, 0, command, text, static_cast<int>(std::strlen(text)),
                      kTextBuilderSize, "general_str_command_to_socket");
}

int general_str_command_with_board_to_socket(int command, int board_num, const char* text,
                                             Clink_socket* socket) {
    return send_built(socket, board_num, command, text, static_cast<int>(std::strlen(text)),
                      kTextBuilderSize, "general_str_command_to_socket");
}

int general_buf_command_to_socket(int command, const void* bytes, int count, Clink_socket* socket) {
    if (!buf_len_ok(count, "general_buf_command_to_socket")) return -1;
    return send_built(socket, 0, command, bytes, count, kHeaderLen + kBufBuilderMaxBody + 4,
                      "general_buf_command_to_socket");
}
