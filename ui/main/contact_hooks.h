// Where the contact tree and the contact dialogs plug into the main window. The main window
// owns the session and the menus; the tree (put into tree_area()) adds what it shows.
// Every call is on the GUI thread.
#pragma once
#include <QString>
#include <cstdint>

struct contact_ui_hooks {
    virtual ~contact_ui_hooks() = default;
    // Notification n after the session controller handled it; text is what the main window
    // showed for it, if anything (already in the user's language). Tree updates (4, 5, 6, 19,
    // 22, 24, 26, 28, 29, 32, 45) and the dialogs of 14, 16, 18 and 37 belong here (the question
    // of 40 is the main window's, see session_questions).
    virtual void notification(int n, intptr_t wparam, intptr_t lparam, const QString& text) {
        (void)n, (void)wparam, (void)lparam, (void)text;
    }
    // Sign-out: only the "Default Group" root stays in the tree.
    virtual void signed_out() {}
    // A command of the contact or group menus, or Add Group / Add Contact from the main menu.
    // Return true when handled; false lets the main window apply its own default.
    virtual bool command(int command_id) {
        (void)command_id;
        return false;
    }
    // The registration flow behind the "Register" link.
    virtual void open_registration() {}
};
