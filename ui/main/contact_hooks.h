// The parts of the desktop's windows that show notifications besides the main window: the contact
// tree with its dialogs, the transfer windows and the chat windows. The main window's table
// (CParloDlg::routes(), ui/main/main_notify.cpp) names the step of each part for each notification;
// the parts never look at a notification's number. Every call is on the GUI thread.
#pragma once
#include <QString>
#include <cstdint>

// The transfer windows (file_transfer_ui): the progress window of each transfer and its end. The
// peer is the notification's wparam.
struct transfer_ui_hooks {
    virtual ~transfer_ui_hooks() = default;
    virtual void file_accepted(int peer_id, intptr_t lparam) = 0;         // 41
    virtual void file_send_progress(int peer_id, intptr_t bytes) = 0;     // 60
    virtual void file_recv_progress(int peer_id, intptr_t bytes) = 0;     // 61
    virtual void file_saved(int peer_id, intptr_t lparam) = 0;            // 43
    virtual void file_recv_incomplete(int peer_id, intptr_t reason) = 0;  // 62
    virtual void file_send_failed(int peer_id, intptr_t reason) = 0;      // 63
};

// A peer's chat window: what its own notifications show.
struct chat_ui_hooks {
    virtual ~chat_ui_hooks() = default;
    // 7: wparam points at a received or echoed body, lparam is its length.
    virtual void chat_text(intptr_t wparam, intptr_t lparam) = 0;
    // 1101, 1102: lparam points at the std::string of level samples (one byte each), or is 0.
    virtual void mic_levels(intptr_t wparam, intptr_t lparam) = 0;
    virtual void peer_levels(intptr_t wparam, intptr_t lparam) = 0;
    // 10, 11: a new picture of mine or of the peer's is there to draw.
    virtual void own_picture_changed(intptr_t wparam, intptr_t lparam) = 0;
    virtual void peer_picture_changed(intptr_t wparam, intptr_t lparam) = 0;
};

// Where the contact tree and the contact dialogs plug into the main window. The main window
// owns the session and the menus; the tree (put into tree_area()) adds what it shows. The steps
// get the notification's wparam (a contact, group or sender id) and lparam, after the session
// controller handled it; the defaults do nothing (no tree installed).
struct contact_ui_hooks {
    virtual ~contact_ui_hooks() = default;
    // Notification n after the session controller handled it: runs the steps the main window's
    // table names for n in this part and in transfer_part(). text is what the main window showed
    // for it, if anything (already in the user's language).
    void notification(int n, intptr_t wparam, intptr_t lparam, const QString& text);

    virtual void groups_listed(int, intptr_t) {}          // 4
    virtual void contacts_listed(int, intptr_t) {}        // 5
    virtual void contact_presence(int, intptr_t) {}       // 6, 45: lparam the state
    virtual void register_again(int, intptr_t) {}         // 14
    virtual void contact_found(int, intptr_t) {}          // 16
    virtual void contact_not_found(int, intptr_t) {}      // 18
    virtual void found_contact_added(int, intptr_t) {}    // 19
    virtual void contact_changed(int, intptr_t) {}        // 22, 24, 26, 27
    virtual void groups_changed(int, intptr_t) {}         // 28, 29, 32
    virtual void offline_message_ready(int, intptr_t) {}  // 37: wparam the sender
    // The transfer windows, or null.
    virtual transfer_ui_hooks* transfer_part() { return nullptr; }

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
