// The contact side of the main window (its contact_ui_hooks): the tree's reactions to the
// session's notifications, the contact and group menus with their commands, and the dialogs
// they open.
//
// Threads: GUI thread only. The session controller is reached through a session runner (in the
// application the session thread; the panel never waits for it): results come back as
// notifications or table changes. Dialogs opened from a notification are window-modal but do not
// block, so the notifications behind them keep flowing.
#pragma once
#include <QObject>
#include <QPoint>
#include <cstdint>
#include <functional>

#include "ui/dialogs/session_call.h"
#include "ui/main/contact_hooks.h"
#include "ui/transfer/file_transfer_ui.h"

class CMyTreeCtrl;
class QTreeWidgetItem;
class QWidget;

class CContactPanel : public QObject, public contact_ui_hooks {
    Q_OBJECT
public:
    CContactPanel(session_runner session, CMyTreeCtrl* tree, QWidget* window);

    CMyTreeCtrl* tree() const { return m_tree; }
    // The transfer windows (the tests' way to them; the table reaches them as transfer_ui_hooks).
    file_transfer_ui& transfers() { return m_transfers; }

    // contact_ui_hooks: the tree's and the dialogs' side of the notifications, after the
    // controller handled them (the main window's table says which step runs for which).
    void groups_listed(int, intptr_t) override;
    void contacts_listed(int, intptr_t) override;
    void contact_presence(int contact_id, intptr_t state) override;
    // Back to the registration dialog with everything the user typed, so only the address needs
    // changing.
    void register_again(int, intptr_t) override;
    void contact_found(int, intptr_t) override;
    void contact_not_found(int, intptr_t) override;
    void found_contact_added(int, intptr_t) override;
    void contact_changed(int contact_id, intptr_t) override;
    void groups_changed(int, intptr_t) override;
    void offline_message_ready(int sender_id, intptr_t) override;
    transfer_ui_hooks* transfer_part() override { return &m_transfers; }
    void signed_out() override;
    bool command(int command_id) override;
    void open_registration() override;

    // A menu command (the ids of contact_menus.h); false for ids that are not the panel's.
    bool run_command(int command);
    // The contact the contact commands act on: the record whose id is the data of the selected
    // contact item; -1 when none.
    int selected_contact_id() const;
    // Right click on an item: remembers the group, then opens the contact or group menu.
    void open_menu_for(QTreeWidgetItem* item, const QPoint& global);
    // The group the group commands act on (the last right click).
    void select_group(int group_id);
    int selected_group() const { return m_selected_group; }

signals:
    void chat_requested(int peer_id, bool audio_video);

private:
    void open_dialog(QWidget* dlg);
    void show_offline_viewer(int sender_id);
    // Runs fn on the GUI thread later, unless the panel is gone.
    void back_on_gui(std::function<void()> fn);

    session_runner m_session;
    CMyTreeCtrl* m_tree;
    QWidget* m_window;
    file_transfer_ui m_transfers;
    int m_selected_group = 0;
};
