// Signing a headless client up and in, shared by the end-to-end tests and the benchmarks.
#pragma once
#include <string>

#include "tests/e2e/child_process.h"
#include "tests/e2e/json_lines.h"

// Registers email with password, nick and names, signs in (login_flags added to the command)
// and waits for the contact list. Returns the user id, or -1 when a step did not come.
inline int register_and_sign_in(child_process& c, const std::string& email, const std::string& password,
                                const std::string& nick, const std::string& first, const std::string& last,
                                const std::string& login_flags = "") {
    c.write_line("register " + email + " " + password + " " + first + " " + last + " " + nick);
    if (c.wait_line({"\"event\":\"register_success\""}).empty()) return -1;
    c.write_line("login " + email + " " + password + (login_flags.empty() ? "" : " " + login_flags));
    std::string welcome = c.wait_line({"\"event\":\"welcome\""});
    if (welcome.empty() || c.wait_line({"\"event\":\"contact_list\""}).empty()) return -1;
    return json_int(welcome, "user_id");
}
