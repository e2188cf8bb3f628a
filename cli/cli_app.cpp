#include "cli/cli_app.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "cli/cli_audio.h"
#include "cli/cli_chat.h"
#include "cli/cli_video.h"
#include "cli/commands.h"
#include "cli/json_out.h"
#include "cli/notify_sink.h"
#include "peer/peer_service.h"
#include "peer/relay_server.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/extensions.h"
#include "protocol/proxy.h"
#include "protocol/session.h"

namespace {
json_line question(const char* kind, const user_text& text) {
    json_line j;
    j.add("question", kind).add("text", english(text)).add("text_id", text.id);
    return j;
}
}  // namespace

void cli_asker::show_text(const user_text& text) {
    std::string words = english(text);
    log_line("message: %s\r\n", words.c_str());
    json_line().add("message", words).add("text_id", text.id).print();
}

int cli_asker::ask_added_me(const contact_record& c, const user_text& text) {
    question("added_me", text).add("id", c.contact_id).add_bool("auto_answered", auto_accept).print();
    return auto_accept ? ANSWER_YES : ANSWER_CANCEL;
}

int cli_asker::ask_removed_me(const contact_record& c, const user_text& text) {
    question("removed_me", text).add("id", c.contact_id).add_bool("auto_answered", auto_accept).print();
    return auto_accept ? ANSWER_YES : ANSWER_CANCEL;
}

int cli_asker::ask_read_offline(const user_text& text) {
    question("offline_waiting", text).add_bool("auto_answered", auto_accept).print();
    return auto_accept ? ANSWER_YES : ANSWER_NO;
}

int cli_asker::ask_file_offer(const contact_record& c, const user_text& text, const char* offered_name,
                              std::string* folder, std::string*) {
    json_line j = question("file_offer", text);
    j.add("id", c.contact_id).add("name", offered_name);
    if (!accept_files_dir.empty()) {
        j.add("answer", "accept").add("folder", accept_files_dir).print();
        *folder = accept_files_dir;
        return ANSWER_YES;
    }
    if (refuse_files) {
        j.add("answer", "refuse").print();
        return ANSWER_NO;
    }
    j.add_bool("auto_answered", false).print();
    return ANSWER_CANCEL;
}

cli_app::cli_app(const cli_options& opts)
    : options(opts),
      controller(&asker),
      hk(controller, &idle),
      dispatcher([this](int n, intptr_t w, intptr_t l) { on_notification(*this, n, w, l); }) {
    asker.auto_accept = options.auto_accept;
    if (!options.accept_files_dir.empty()) asker.accept_files_dir = absolute_path(options.accept_files_dir);
    controller.set_chat_factory(
        [this](int peer) -> chat_window* {
            m_chats.push_back(std::make_unique<cli_chat_window>(*this, peer));
            return m_chats.back().get();
        },
        [this](chat_window* w) {
            for (auto it = m_chats.begin(); it != m_chats.end(); ++it)
                if (it->get() == w) {
                    m_chats.erase(it);
                    return;
                }
        });
}

cli_app::~cli_app() { stop_reader(); }

void cli_app::reader_main() {
    std::string pending;
    char buf[4096];
    while (!m_reader_stop.load()) {
        // Sleeps until input comes or stop_reader wakes it.
        struct pollfd p[2] = {{0, POLLIN, 0}, {m_reader_wakeup.fd(), POLLIN, 0}};
        int r = poll(p, 2, -1);
        if (r <= 0 || p[0].revents == 0) continue;
        ssize_t n = ::read(0, buf, sizeof(buf));
        if (n <= 0) {
            // The last line without its newline, then the end of the input.
            dispatcher.run([this, last = std::move(pending)] {
                if (!quit && !last.empty()) execute(last);
                quit = true;
            });
            return;
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t at;
        while ((at = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending.erase(0, at + 1);
            // Each line is a task on the main thread's queue, in order with the notifications:
            // the wait there returns as soon as it is queued.
            dispatcher.run([this, line = std::move(line)] {
                if (!quit) execute(line);
            });
        }
    }
}

void cli_app::stop_reader() {
    m_reader_stop = true;
    m_reader_wakeup.signal();
    if (m_reader.joinable()) m_reader.join();
}

int cli_app::execute(const std::string& line) {
    idle.last = get_tick_count();
    return run_command(*this, line);
}

int cli_app::run() {
    dispatcher.bind_to_current_thread();
    g_main_dlg = &dispatcher;
    if (session_start() != 0) return 1;
    if (!options.relay_ports.empty()) {
        uint16_t ports[3] = {80, 443, 8199};
        int a = 0, b = 0, c = 0;
        if (std::sscanf(options.relay_ports.c_str(), "%d,%d,%d", &a, &b, &c) == 3) {
            ports[0] = static_cast<uint16_t>(a);
            ports[1] = static_cast<uint16_t>(b);
            ports[2] = static_cast<uint16_t>(c);
            set_relay_ports(ports);
        } else {
            json_line().add("warning", "--relay-ports wants three ports: A,B,C").print();
        }
    }
    set_extensions_enabled(options.extensions);
    if (!options.proxy_everything.empty()) save_proxy_everything(options.proxy_everything == "on");
    if (start_peer_networking(options.peer_listener) != 0)
        json_line().add("warning", "peer listener not available; only outgoing peer connections").print();
    if (cli_audio_start(options.audio) != 0)
        json_line().add("warning", "sound threads could not be started; going on without sound").print();
    idle.last = get_tick_count();
    hk.start(get_tick_count());
    if (!asker.accept_files_dir.empty() && access(asker.accept_files_dir.c_str(), W_OK | X_OK) != 0) {
        json_line().add("warning", "--accept-files: " + asker.accept_files_dir +
                                       " is not a writable folder; offered files are asked").print();
        asker.accept_files_dir.clear();
    }
    cli_video_start(options);
    json_line().add("event", "ready").print();
    if (!options.email.empty()) {
        auto r = session_controller::load_remembered();
        controller.sign_in(options.email.c_str(), options.password.c_str(), r.remember_email,
                           r.remember_passwd);
    }
    m_reader = std::thread([this] { reader_main(); });
    while (!quit) {
        // Sleeps until a notification or an input line arrives or a duty is due.
        dispatcher.wait_and_run(hk.ms_until_due(get_tick_count()));
        hk.tick(get_tick_count());
    }
    // Every home server learns that this user went offline; the threads get two seconds.
    controller.shutdown(2000);
    wait_for_jobs(2000);
    // Nothing queued from here on runs.
    dispatcher.stop();
    cli_audio_stop();
    cli_video_stop();
    stop_peer_networking();
    session_stop();
    take_all_chat_dlgs();
    m_chats.clear();
    g_main_dlg = nullptr;
    stop_reader();
    json_line().add("event", "bye").print();
    return 0;
}
