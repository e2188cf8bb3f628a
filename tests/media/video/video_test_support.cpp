#include "tests/media/video/video_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/debug_log.h"
#include "protocol/tables.h"

namespace vtest {

namespace {
std::mutex g_sent_mutex;
std::vector<sent_command> g_sent;
bool g_direct_fails = false;

int record(bool relay, int peer_id, int command, const void* body, int len) {
    std::lock_guard<std::mutex> lk(g_sent_mutex);
    if (!relay && g_direct_fails) return -1;
    g_sent.push_back({relay, peer_id, command,
                      std::string(static_cast<const char*>(body), static_cast<size_t>(len))});
    return len;
}
int direct(int peer_id, int command, const void* body, int len) {
    return record(false, peer_id, command, body, len);
}
int relay(int peer_id, int command, const void* body, int len) {
    return record(true, peer_id, command, body, len);
}
const video_transport kRecorder{direct, relay};
}  // namespace

std::vector<sent_command> take_sent() {
    std::lock_guard<std::mutex> lk(g_sent_mutex);
    std::vector<sent_command> out;
    out.swap(g_sent);
    return out;
}

void install_recorder(bool direct_fails) {
    {
        std::lock_guard<std::mutex> lk(g_sent_mutex);
        g_sent.clear();
        g_direct_fails = direct_fails;
    }
    set_video_transport(&kRecorder);
}

void remove_recorder() {
    set_video_transport(nullptr);
}

void open_test_log() {
    char tmpl[] = "/tmp/parlo-video-log-XXXXXX";
    char* dir = mkdtemp(tmpl);
    if (dir) open_debug_log_in(std::string(dir) + "/");
}

std::string log_text() {
    std::ifstream in(debug_log_path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void reset_my_video() {
    my_video_store& store = my_video();
    store.mutex.lock();
    store.encoder = std::make_unique<frame_encoder>();
    store.version = 0;
    store.partial_version = 0;
    store.mutex.unlock();
    video_set_size_index(0);
    video_set_quality(70);
}

sessions::sessions(std::vector<int> peers) {
    for (int p : peers) {
        windows.push_back(std::make_unique<recording_window>(p));
        add_chat_dlg(windows.back().get());
    }
}

sessions::~sessions() {
    for (auto& w : windows) remove_chat_dlg(w.get());
}

recording_window& sessions::window(int peer) {
    for (auto& w : windows)
        if (w->peer_id() == peer) return *w;
    return *windows.front();
}

}  // namespace vtest
