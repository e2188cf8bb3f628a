// The contact side of the main window: the tree's reactions to the session's notifications, the
// contact and group menus with their commands, and the dialogs they open.
//
// The main window calls before_notification(), then the session controller's handle(), then
// after_notification() for every notification that handles() names. The texts the controller
// returns are the main window's to show (40 excepted: its text is the question already asked).
// GUI thread only. Dialogs opened from a notification are window-modal but do not block the
// handler, so the notifications behind it keep flowing.
#pragma once
#include <QObject>
#include <QPoint>
#include <cstdint>
#include <functional>

#include "ui/transfer/file_transfer_ui.h"

class CMyTreeCtrl;
class QTreeWidgetItem;
class QWidget;
class session_controller;
class ui_question_asker;

class CContactPanel : public QObject {
    Q_OBJECT
public:
    CContactPanel(session_controller& controller, ui_question_asker& asker, CMyTreeCtrl* tree,
                  QWidget* window);

    CMyTreeCtrl* tree() const { return m_tree; }
    file_transfer_ui& transfers() { return m_transfers; }

    static bool handles(int n);
    void before_notification(int n, intptr_t wparam, intptr_t lparam);
    void after_notification(int n, intptr_t wparam, intptr_t lparam);
    // Sign-out: the tree keeps only "Default Group".
    void signed_out();

    // A menu command (the ids of contact_menus.h).
    void run_command(int command);
    // The contact the contact commands act on: the record whose id is the data of the selected
    // contact item; -1 when none.
    int selected_contact_id() const;
    // Right click on an item: remembers the group, then opens the contact or group menu.
    void open_menu_for(QTreeWidgetItem* item, const QPoint& global);

    // Sends the knock on a job thread (tests replace it).
    std::function<void(int contact_id)> send_knock;

signals:
    void chat_requested(int peer_id, bool audio_video);

private:
    void open_dialog(QWidget* dlg);
    void show_offline_viewer(int sender_id);

    session_controller& m_controller;
    CMyTreeCtrl* m_tree;
    QWidget* m_window;
    file_transfer_ui m_transfers;
};
