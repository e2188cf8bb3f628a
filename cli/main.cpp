// parlo-cli: the headless messenger client.
#include <cstdio>
#include <cstdlib>

#include "cli/args.h"
#include "cli/cli_app.h"
#include "cli/cli_audio.h"
#include "cli/json_out.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/socket.h"
#include "protocol/settings_store.h"

namespace {
// Message boxes become JSON lines; questions asked through them take the answer No (or Yes with
// --auto-accept), since the client's own questions are answered by commands.
struct json_message_boxes : message_box_handler {
    bool auto_accept = false;
    void show_message(const char* text) override {
        log_line("message: %s\r\n", text);
        json_line().add("message", text).print();
    }
    int ask_yes_no(const char* text) override {
        json_line().add("question", "yes_no").add("text", text).add_bool("auto_answered", true).print();
        return auto_accept ? ANSWER_YES : ANSWER_NO;
    }
    int ask_yes_no_cancel(const char* text) override { return ask_yes_no(text); }
};
}  // namespace

int main(int argc, char** argv) {
    cli_options options;
    std::string error;
    if (parse_args(argc, argv, &options, &error) != 0) {
        std::fprintf(stderr, "parlo-cli: %s\n%s", error.c_str(), usage_text().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }
    if (options.audio.list_devices) return cli_list_devices(options.audio);
    if (options.audio.list_cameras) return cli_list_cameras();
    if (options.home.empty()) {
        if (const char* env = std::getenv("PARLO_HOME")) options.home = env;
    }
    if (!options.home.empty()) {
        make_dirs(options.home);
        set_home_dir(options.home);
    }
    open_debug_log();
    json_message_boxes boxes;
    boxes.auto_accept = options.auto_accept;
    set_message_box_handler(&boxes);
    if (!options.server.empty()) set_server_host_override(options.server.c_str());
    if (!options.bind.empty()) set_local_bind_address(options.bind.c_str());
    apply_bind_address_setting();

    int code;
    {
        cli_app app(options);
        code = app.run();
    }
    set_message_box_handler(nullptr);
    close_debug_log();
    return code;
}
