#include "protocol/file_dispatch.h"

#include <atomic>

#include "platform/debug_log.h"

namespace {
file_dispatch g_default_files;
std::atomic<file_dispatch*> g_files{nullptr};

int not_handled(const char* what, int peer_id) {
    log_line("%s for peer_id:%d not handled yet (file transfer)\r\n", what, peer_id);
    return -1;
}
}  // namespace

void set_file_dispatch(file_dispatch* impl) { g_files.store(impl); }

file_dispatch& file_transfers() {
    file_dispatch* f = g_files.load();
    return f ? *f : g_default_files;
}

user_text file_dispatch::handle_notification(int n, intptr_t wparam, intptr_t) {
    log_line("notification %d for peer_id:%d not handled yet (file transfer)\r\n", n,
             static_cast<int>(wparam));
    return {};
}
int file_dispatch::offer_question(int peer_id, user_text*, std::string*) {
    return not_handled("file offer", peer_id);
}
int file_dispatch::offer_file(int peer_id, const char*) {
    return not_handled("sending a file", peer_id);
}
int file_dispatch::answer_offer(int peer_id, bool, const char*) {
    return not_handled("answering a file offer", peer_id);
}
int file_dispatch::accept_offer_as(int peer_id, const char*) {
    return not_handled("answering a file offer", peer_id);
}
bool file_dispatch::progress(int, bool, file_progress*) { return false; }
