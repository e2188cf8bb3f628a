#include "cli/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "cli/cli_app.h"
#include "cli/cli_audio.h"
#include "cli/cli_chat.h"
#include "cli/cli_video.h"
#include "cli/json_out.h"
#include "cli/notify_sink.h"
#include "peer/peer_commands.h"
#include "peer/peer_socket.h"
#include "protocol/offline.h"
#include "protocol/proxy.h"
#include "protocol/session.h"
#include "protocol/tables.h"

namespace {

int done(const char* command) {
    json_line().add("ok", command).print();
    return 0;
}

// The text after the first `skip` words of rest.
std::string after_words(const std::string& rest, int skip) {
    size_t at = 0;
    for (int i = 0; i < skip; i++) {
        at = rest.find_first_not_of(" \t", at);
        if (at == std::string::npos) return "";
        at = rest.find_first_of(" \t", at);
        if (at == std::string::npos) return "";
    }
    size_t start = rest.find_first_not_of(" \t", at);
    return start == std::string::npos ? "" : rest.substr(start);
}

const char* const kStateNames[8] = {"offline",  "online",   "busy",  "away",
                                    "right-back", "on-phone", "lunch", "appear-offline"};

int parse_state(const std::string& s) {
    int v;
    if (to_int(s, &v)) return v >= 0 && v <= 7 ? v : -1;
    for (int i = 0; i < 8; i++)
        if (s == kStateNames[i]) return i;
    return -1;
}

int cmd_help(cli_app&, const std::vector<std::string>&, const std::string&) {
    json_line().add("help", command_help()).print();
    return 0;
}

int cmd_login(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    auto remembered = session_controller::load_remembered();
    std::string email = remembered.email, password = remembered.password;
    bool remember_email = remembered.remember_email, remember_passwd = remembered.remember_passwd;
    std::vector<std::string> words;
    for (const auto& a : args) {
        if (a == "--remember-email") remember_email = true;
        else if (a == "--forget-email") remember_email = false;
        else if (a == "--remember-password") remember_passwd = true;
        else if (a == "--forget-password") remember_passwd = false;
        else words.push_back(a);
    }
    if (words.size() >= 1) email = words[0];
    if (words.size() >= 2) password = words[1];
    if (app.controller.sign_in(email.c_str(), password.c_str(), remember_email, remember_passwd) != 0)
        return fail("login not sent");
    return done("login");
}

int cmd_logout(cli_app& app, const std::vector<std::string>&, const std::string&) {
    app.controller.sign_out();
    return done("logout");
}

int cmd_register(cli_app& app, const std::vector<std::string>& args, const std::string& rest) {
    if (args.size() < 5) return fail("usage: register EMAIL PASSWORD FIRST LAST NICK [PHONE [COUNTRY]]");
    std::string phone = args.size() > 5 ? args[5] : "";
    std::string country = after_words(rest, 6);
    if (country.empty()) country = "United States";
    registration_fields f{args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3].c_str(),
                          args[4].c_str(), phone.c_str(),   country.c_str()};
    if (app.controller.register_user(f) != 0) return fail("registration refused");
    return done("register");
}

int cmd_status(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    if (args.empty()) {
        json_line().add("status", g_my_status.load()).add("status_text", presence_label(g_my_status.load()))
            .add("logged_in", g_logged_in.load()).print();
        return 0;
    }
    int state = parse_state(args[0]);
    if (state < 0) return fail("unknown state " + args[0]);
    if (g_logged_in.load() != 1) return fail("not signed in");
    app.controller.request_my_status(state, true);
    return done("status");
}

int cmd_groups(cli_app&, const std::vector<std::string>&, const std::string&) {
    std::string arr = "[" + json_line().add("id", 0).add("name", "Default Group").str();
    for (auto& g : groups_snapshot()) arr += "," + json_line().add("id", g.group_id).add("name", g.name).str();
    json_line().add_raw("groups", arr + "]").print();
    return 0;
}

int cmd_contacts(cli_app&, const std::vector<std::string>&, const std::string&) {
    std::string arr = "[";
    for (auto& c : contacts_snapshot()) {
        if (arr.size() > 1) arr += ",";
        arr += contact_json(c);
    }
    json_line().add_raw("contacts", arr + "]").print();
    return 0;
}

int cmd_search(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    if (args.empty()) return fail("usage: search EMAIL");
    if (app.controller.search_contact(args[0].c_str()) != 0) return fail("search refused");
    return done("search");
}

int cmd_add_contact(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    if (args.empty()) return fail("usage: add-contact EMAIL [GROUP_ID]");
    int group = 0;
    if (args.size() > 1 && !to_int(args[1], &group)) return fail("bad group id");
    app.controller.select_group(group);
    if (app.controller.search_contact(args[0].c_str()) != 0) return fail("search refused");
    app.add_when_found = true;
    return done("add-contact");
}

int cmd_add_found(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int group = 0;
    if (!args.empty() && !to_int(args[0], &group)) return fail("bad group id");
    app.controller.select_group(group);
    if (app.controller.add_found_contact() != 0) return fail("contact not added");
    return done("add-found");
}

int with_id(const std::vector<std::string>& args, const char* usage, int* id) {
    if (args.empty() || !to_int(args[0], id)) return fail(std::string("usage: ") + usage);
    return 0;
}

int cmd_accept_contact(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "accept-contact ID", &id) != 0) return -1;
    app.controller.answer_added_me(id, true);
    return done("accept-contact");
}

int cmd_decline_contact(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "decline-contact ID", &id) != 0) return -1;
    app.controller.answer_added_me(id, false);
    return done("decline-contact");
}

int cmd_accept_removal(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "accept-removal ID", &id) != 0) return -1;
    app.controller.answer_removed_me(id, true);
    return done("accept-removal");
}

int cmd_keep_contact(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "keep-contact ID", &id) != 0) return -1;
    app.controller.answer_removed_me(id, false);
    return done("keep-contact");
}

int cmd_remove_contact(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "remove-contact ID", &id) != 0) return -1;
    if (app.controller.remove_contact(id) != 0) return fail("no such contact");
    return done("remove-contact");
}

int cmd_add_group(cli_app& app, const std::vector<std::string>&, const std::string& rest) {
    app.controller.add_group(rest.c_str());
    return done("add-group");
}

int cmd_rename_group(cli_app& app, const std::vector<std::string>& args, const std::string& rest) {
    int id;
    if (with_id(args, "rename-group ID NAME", &id) != 0) return -1;
    if (app.controller.rename_group(id, after_words(rest, 1).c_str()) != 0) return fail("not renamed");
    return done("rename-group");
}

int cmd_delete_group(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "delete-group ID", &id) != 0) return -1;
    if (app.controller.delete_group(id) != 0) return fail("group not deleted");
    return done("delete-group");
}

int cmd_move(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id, group;
    if (args.size() < 2 || !to_int(args[0], &id) || !to_int(args[1], &group))
        return fail("usage: move CONTACT_ID GROUP_ID");
    if (app.controller.move_contact(id, group) != 0) return fail("no such contact");
    return done("move");
}

int cmd_offline(cli_app& app, const std::vector<std::string>& args, const std::string& rest) {
    int id;
    if (with_id(args, "offline ID TEXT", &id) != 0) return -1;
    // Sent on a worker; an action_done event follows.
    if (app.controller.send_offline_message(id, after_words(rest, 1)) != 0)
        return fail("offline message not sent");
    return done("offline");
}

int cmd_chat(cli_app& app, const std::vector<std::string>&, const std::string& rest) {
    chat_request req;
    std::string error;
    if (!parse_chat_request(rest, &req, &error)) return fail(error);
    // Sending opens the chat window, as typing into one does, and connects to the peer first when
    // no connection is open; the line shows when its echo returns.
    if (app.controller.send_chat_line(req.peer_id, req.text, chat_style_from_bytes(req.attrs)) != 0) return fail("no such contact");
    return done("chat");
}

int cmd_knock(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "knock ID", &id) != 0) return -1;
    // Whether it found a path comes as an action_done event.
    if (app.controller.knock(id) != 0) return fail("no such contact");
    return done("knock");
}

int cmd_block_knock(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "block-knock ID", &id) != 0) return -1;
    if (app.controller.set_knock_blocked(id, true) != 0) return fail("no such contact");
    return done("block-knock");
}

int cmd_allow_knock(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "allow-knock ID", &id) != 0) return -1;
    if (app.controller.set_knock_blocked(id, false) != 0) return fail("no such contact");
    return done("allow-knock");
}

int cmd_read_offline(cli_app& app, const std::vector<std::string>&, const std::string&) {
    app.controller.read_offline();
    return done("read-offline");
}

int cmd_offline_list(cli_app& app, const std::vector<std::string>&, const std::string&) {
    std::string arr = "[";
    for (auto& m : app.controller.pending_offline()) {
        if (arr.size() > 1) arr += ",";
        arr += json_line().add("sender_id", m.sender_id).add("sender", m.label).add("message", m.text).str();
    }
    json_line().add_raw("offline_messages", arr + "]").print();
    return 0;
}

int cmd_discard_offline(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "discard-offline SENDER_ID", &id) != 0) return -1;
    if (app.controller.discard_offline(id) != 0) return fail("no message from that sender");
    return done("discard-offline");
}

int cmd_save_offline(cli_app& app, const std::vector<std::string>& args, const std::string& rest) {
    int id;
    if (args.size() < 2 || !to_int(args[0], &id)) return fail("usage: save-offline SENDER_ID PATH");
    if (app.controller.save_offline(id, after_words(rest, 1).c_str()) != 0) return fail("not saved");
    return done("save-offline");
}

int cmd_proxy(cli_app&, const std::vector<std::string>& args, const std::string&) {
    if (args.size() == 1 && args[0] == "off") {
        disable_proxy();
        return done("proxy");
    }
    int port;
    if (args.size() < 3 || !to_int(args[2], &port))
        return fail("usage: proxy http|socks4|socks5 ADDR PORT [USER PASS] | proxy off");
    int type = args[0] == "http" ? 0 : args[0] == "socks4" ? 1 : args[0] == "socks5" ? 2 : -1;
    if (type < 0) return fail("unknown proxy type " + args[0]);
    std::string user = args.size() > 3 ? args[3] : "", pass = args.size() > 4 ? args[4] : "";
    if (save_proxy_settings(1, type, args[1].c_str(), port, user.c_str(), pass.c_str()) != 0)
        return fail("proxy address must be dotted IPv4");
    return done("proxy");
}

int cmd_peers(cli_app&, const std::vector<std::string>&, const std::string&) {
    std::string list = "[";
    {
        std::lock_guard<std::mutex> lk(g_peer_mutex);
        for (int i = 0; i < kPeerSlots; i++) {
            const Cpeer_socket& slot = g_peer_socks[i];
            if (slot.in_use != 1 || slot.sock == 0) continue;
            if (list.size() > 1) list += ",";
            list += json_line().add("slot", i).add("peer", slot.peer_id).add("address", slot.peer_address)
                        .add("port", slot.peer_port).add("idle", slot.idle_count).str();
        }
    }
    json_line().add_raw("peers", list + "]").print();
    return 0;
}

int cmd_whoami(cli_app&, const std::vector<std::string>&, const std::string&) {
    session_texts t = get_session_texts();
    json_line().add("user_id", g_user_id.load()).add("email", t.my_email).add("name1", t.my_name1)
        .add("name2", t.my_name2).add("name3", t.my_name3).add("logged_in", g_logged_in.load())
        .add("status", g_my_status.load()).print();
    return 0;
}

bool is_folder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int cmd_send_file(cli_app& app, const std::vector<std::string>& args, const std::string& rest) {
    int id;
    if (args.size() < 2 || !to_int(args[0], &id)) return fail("usage: send-file ID PATH");
    std::string path = absolute_path(after_words(rest, 1));
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("no such file " + path);
    // The offer goes out on a worker; a failure (unknown contact, a path too long, no path to the
    // contact) comes as an action_done event.
    if (app.controller.offer_file(id, path.c_str()) != 0) return fail("file not offered");
    json_line().add("ok", "send-file").add("id", id).add("path", path)
        .add("size", static_cast<long long>(st.st_size)).print();
    return 0;
}

int cmd_accept_files(cli_app& app, const std::vector<std::string>&, const std::string& rest) {
    std::string dir = absolute_path(rest);
    if (rest.empty() || !is_folder(dir)) return fail("usage: accept-files DIR (an existing folder)");
    app.asker.accept_files_dir = dir;
    app.asker.refuse_files = false;
    json_line().add("ok", "accept-files").add("folder", dir).print();
    return 0;
}

int cmd_refuse_files(cli_app& app, const std::vector<std::string>&, const std::string&) {
    app.asker.accept_files_dir.clear();
    app.asker.refuse_files = true;
    return done("refuse-files");
}

int cmd_ask_files(cli_app& app, const std::vector<std::string>&, const std::string&) {
    app.asker.accept_files_dir.clear();
    app.asker.refuse_files = false;
    return done("ask-files");
}

int cmd_accept_file(cli_app& app, const std::vector<std::string>& args, const std::string& rest) {
    int id;
    if (with_id(args, "accept-file ID [DIR]", &id) != 0) return -1;
    std::string dir = after_words(rest, 1);
    if (dir.empty()) dir = app.asker.accept_files_dir.empty() ? "." : app.asker.accept_files_dir;
    dir = absolute_path(dir);
    if (!is_folder(dir)) return fail("no such folder " + dir);
    // A folder that cannot take the file refuses the offer (372), so the sender is not left
    // waiting.
    if (app.controller.answer_file_offer(id, true, dir.c_str()) != 0)
        return fail("file not accepted (no offer waiting, or the folder cannot take it)");
    json_line().add("ok", "accept-file").add("id", id).add("folder", dir).print();
    return 0;
}

int cmd_refuse_file(cli_app& app, const std::vector<std::string>& args, const std::string&) {
    int id;
    if (with_id(args, "refuse-file ID", &id) != 0) return -1;
    if (app.controller.answer_file_offer(id, false, nullptr) != 0) return fail("refusal not sent");
    return done("refuse-file");
}

int cmd_quit(cli_app& app, const std::vector<std::string>&, const std::string&) {
    app.quit = true;
    return 0;
}

const std::vector<cli_command> kCommands = {
    {"help", "help", "list the commands", cmd_help},
    {"login", "login [EMAIL [PASSWORD]] [--remember-email|--forget-email] [--remember-password|--forget-password]",
     "sign in; without EMAIL the remembered e-mail and password are used", cmd_login},
    {"logout", "logout", "sign out", cmd_logout},
    {"register", "register EMAIL PASSWORD FIRST LAST NICK [PHONE [COUNTRY]]", "create an account",
     cmd_register},
    {"status", "status [STATE]",
     "show or change the presence state: 0-7 or online, busy, away, right-back, on-phone, lunch, "
     "appear-offline, offline",
     cmd_status},
    {"groups", "groups", "list the groups", cmd_groups},
    {"contacts", "contacts", "list the contacts with their presence", cmd_contacts},
    {"search", "search EMAIL", "look a user up by e-mail (answer: contact_found)", cmd_search},
    {"add-found", "add-found [GROUP_ID]", "add the user found by the last search", cmd_add_found},
    {"add-contact", "add-contact EMAIL [GROUP_ID]", "search and add in one step", cmd_add_contact},
    {"accept-contact", "accept-contact ID", "agree to a user who added you", cmd_accept_contact},
    {"decline-contact", "decline-contact ID", "refuse a user who added you", cmd_decline_contact},
    {"accept-removal", "accept-removal ID", "remove a contact who removed you", cmd_accept_removal},
    {"keep-contact", "keep-contact ID", "keep a contact who removed you", cmd_keep_contact},
    {"remove-contact", "remove-contact ID", "remove a contact", cmd_remove_contact},
    {"add-group", "add-group NAME", "add a group", cmd_add_group},
    {"rename-group", "rename-group ID NAME", "rename a group", cmd_rename_group},
    {"delete-group", "delete-group ID", "delete an empty group", cmd_delete_group},
    {"move", "move CONTACT_ID GROUP_ID", "move a contact to another group", cmd_move},
    {"chat", "chat ID [--color RRGGBB] [--size N] [--style biusS] TEXT",
     "send a chat line (style letters: b bold, i italic, u underline, s strike-out)", cmd_chat},
    {"knock", "knock ID", "knock on a contact's door", cmd_knock},
    {"block-knock", "block-knock ID", "stop showing knocks from a contact", cmd_block_knock},
    {"allow-knock", "allow-knock ID", "show knocks from a contact again", cmd_allow_knock},
    {"offline", "offline ID TEXT", "leave a message for a contact", cmd_offline},
    {"read-offline", "read-offline", "ask for the waiting offline messages", cmd_read_offline},
    {"offline-list", "offline-list", "show the received offline messages not yet discarded or saved",
     cmd_offline_list},
    {"discard-offline", "discard-offline SENDER_ID", "discard a received offline message",
     cmd_discard_offline},
    {"save-offline", "save-offline SENDER_ID PATH", "save a received offline message to a file",
     cmd_save_offline},
    {"proxy", "proxy http|socks4|socks5 ADDR PORT [USER PASS] | proxy off",
     "connect through a proxy from the next connection on", cmd_proxy},
    {"send-file", "send-file ID PATH",
     "offer a file to a contact; once accepted it is sent and its progress printed "
     "(file_send_progress with bytes and total, then file_sent or file_send_failed)",
     cmd_send_file},
    {"accept-files", "accept-files DIR",
     "save every file offered from now on into DIR (the offered name, \"name (1)\" when taken)",
     cmd_accept_files},
    {"refuse-files", "refuse-files", "refuse every file offered from now on", cmd_refuse_files},
    {"ask-files", "ask-files",
     "print each offered file as a question (file_offer) again; the default", cmd_ask_files},
    {"accept-file", "accept-file ID [DIR]",
     "save the file the contact offers into DIR (default: the accept-files folder, else the "
     "current folder); progress prints as file_recv_progress, the end as file_saved or "
     "file_incomplete",
     cmd_accept_file},
    {"refuse-file", "refuse-file ID", "refuse the file the contact offers", cmd_refuse_file},
    {"peers", "peers", "list the open direct peer connections", cmd_peers},
    {"whoami", "whoami", "show the session values", cmd_whoami},
    {"quit", "quit", "leave", cmd_quit},
};

}  // namespace

const std::vector<cli_command>& command_table() { return kCommands; }

std::string absolute_path(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd))) return path;
    std::string base = cwd;
    if (path == ".") return base;
    return (base == "/" ? "" : base) + "/" + path;
}

std::string command_help() {
    std::string text;
    std::vector<cli_command> all = kCommands;
    all.insert(all.end(), audio_commands().begin(), audio_commands().end());
    for (const auto& c : all) {
        text += "  ";
        text += c.usage;
        text += "\n      ";
        text += c.help;
        text += "\n";
    }
    for (const auto& c : video_command_table()) text += std::string("  ") + c.usage + "\n      " + c.help + "\n";
    return text;
}

int run_command(cli_app& app, const std::string& line) {
    std::istringstream in(line);
    std::string name;
    if (!(in >> name)) return 0;  // an empty line does nothing
    std::vector<std::string> args;
    for (std::string w; in >> w;) args.push_back(w);
    std::string rest = after_words(line, 1);
    for (const auto& c : kCommands)
        if (name == c.name) return c.run(app, args, rest);
    for (const auto& c : audio_commands())
        if (name == c.name) return c.run(app, args, rest);
    for (const auto& c : video_command_table())
        if (name == c.name) return c.run(app, args, rest);
    return fail("unknown command " + name + " (try help)");
}
