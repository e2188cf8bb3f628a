#include "ui/contacts/contact_panel.h"

#include <QDialog>
#include <QMenu>

#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "protocol/commands.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/contacts/contact_menus.h"
#include "ui/contacts/contact_tree.h"
#include "ui/dialogs/add_group_dialog.h"
#include "ui/dialogs/contact_search_dialog.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/dialogs/offline_dialogs.h"
#include "ui/dialogs/registration_dialog.h"
#include "ui/dialogs/view_info_dialog.h"

CContactPanel::CContactPanel(session_runner session, CMyTreeCtrl* tree, QWidget* window)
    : QObject(window),
      m_session(std::move(session)),
      m_tree(tree),
      m_window(window),
      m_transfers(m_session, window) {
    m_tree->on_move = [this](int contact_id, int group_id) {
        // The tree moved the item already; once the session has moved the record (or refused
        // to), the item goes where the tables say.
        m_session([this, contact_id, group_id](session_controller& c) {
            c.move_contact(contact_id, group_id);
            back_on_gui([this, contact_id] { m_tree->place_contact(contact_id); });
        });
    };
    m_tree->on_rename = [this](int group_id, const QString& name) {
        std::string n = name.toUtf8().toStdString();
        m_session([group_id, n](session_controller& c) { c.rename_group(group_id, n.c_str()); });
    };
    m_tree->on_context_menu = [this](QTreeWidgetItem* item, const QPoint& global) {
        open_menu_for(item, global);
    };
    // A double click on a contact (the groups' children) opens its chat, as "Text Chat" does.
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        if (item && item->parent()) emit chat_requested(CMyTreeCtrl::item_data(item), false);
    });
}

void CContactPanel::back_on_gui(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CContactPanel::select_group(int group_id) {
    m_selected_group = group_id;
    m_session([group_id](session_controller& c) { c.select_group(group_id); });
}

bool CContactPanel::command(int command_id) {
    return run_command(command_id);
}

void CContactPanel::open_registration() {
    run_registration(m_window, m_session);
}

void CContactPanel::groups_listed(int, intptr_t) {
    m_tree->rebuild_groups();
}

void CContactPanel::contacts_listed(int, intptr_t) {
    m_tree->build_full();
}

void CContactPanel::contact_presence(int contact_id, intptr_t state) {
    m_tree->update_status(contact_id, static_cast<int>(state));
}

void CContactPanel::register_again(int, intptr_t) {
    auto* dlg = new CDlgRegister(m_window);
    connect(dlg, &QDialog::accepted, this, [this] { send_registration_buffers(m_session); });
    open_dialog(dlg);
}

void CContactPanel::contact_found(int, intptr_t) {
    open_dialog(new CDlgAddContactConfirm(m_session, m_window));
}

void CContactPanel::contact_not_found(int, intptr_t) {
    open_dialog(new CDlgAddContact(m_session, m_window));
}

void CContactPanel::found_contact_added(int, intptr_t) {
    m_tree->place_contact(get_found_contact().id);
}

void CContactPanel::contact_changed(int contact_id, intptr_t) {
    m_tree->place_contact(contact_id);
}

void CContactPanel::groups_changed(int, intptr_t) {
    m_tree->sync_groups();
}

void CContactPanel::offline_message_ready(int sender_id, intptr_t) {
    show_offline_viewer(sender_id);
}

void CContactPanel::signed_out() {
    m_tree->clear_to_default();
}

void CContactPanel::open_dialog(QWidget* dlg) {
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    if (auto* d = qobject_cast<QDialog*>(dlg))
        d->open();
    else
        dlg->show();
}

void CContactPanel::show_offline_viewer(int sender_id) {
    // The waiting messages are the session's: a copy of the sender's comes back here.
    m_session([this, sender_id](session_controller& c) {
        std::vector<offline_message> pending = c.pending_offline();
        for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
            if (it->sender_id != sender_id) continue;
            QString text = QString::fromUtf8(it->text.c_str()).replace("\r\n", "\n");
            QString label =
                it->sender_known ? QString::fromUtf8(it->label.c_str()) : ui_text(T_UNKNOWN);
            back_on_gui([this, text, sender_id, label] {
                open_dialog(
                    new CDlgShowOfflineMessage(m_session, text, sender_id, label, m_window));
            });
            return;
        }
    });
}

int CContactPanel::selected_contact_id() const {
    QTreeWidgetItem* item = m_tree->currentItem();
    // Only a contact item names a contact; a group node's data is a group id.
    if (!item || !item->parent()) return -1;
    int id = CMyTreeCtrl::item_data(item);
    contact_record c;
    return contact_by_id(id, &c) ? id : -1;
}

void CContactPanel::open_menu_for(QTreeWidgetItem* item, const QPoint& global) {
    QMenu* menu = nullptr;
    if (item->parent()) {
        select_group(CMyTreeCtrl::item_data(item->parent()));
        contact_record c;
        if (!contact_by_id(CMyTreeCtrl::item_data(item), &c)) return;
        menu = build_contact_menu(c, m_window);
    } else {
        select_group(CMyTreeCtrl::item_data(item));
        menu = build_group_menu(CMyTreeCtrl::item_data(item), m_window);
    }
    QAction* chosen = menu->exec(global);
    int command = chosen ? chosen->data().toInt() : 0;
    delete menu;
    if (command != 0) run_command(command);
}

bool CContactPanel::run_command(int command) {
    int id = selected_contact_id();
    contact_record c{};
    if (id > 0) contact_by_id(id, &c);
    switch (command) {
        case ID_CONTACT_VIEW_INFO:
            if (id < 0) {
                log_line("could not find selected contact index in OnContactViewInfo.");
                return true;
            }
            open_dialog(new CDlgViewInfo(c, m_window));
            return true;
        case ID_CONTACT_CHAT:
        case ID_CONTACT_AUDIO_VIDEO:
            if (id > 0) emit chat_requested(id, command == ID_CONTACT_AUDIO_VIDEO);
            return true;
        case ID_CONTACT_FILE_TRANSFER:
            if (id < 0) {
                ui_show(TXT_SELECT_CONTACT_LOWER);
                return true;
            }
            m_transfers.offer(id);
            return true;
        case ID_CONTACT_OFFLINE_MESSAGE:
            if (id < 0) {
                ui_show(TXT_SELECT_CONTACT);
                log_line("did not find selected_contact_index in OnContactOfflineMessage\r\n");
                return true;
            }
            open_dialog(new CDlgOfflineMessage(id, m_session, m_window));
            return true;
        case ID_CONTACT_REMOVE:
            if (id < 0) {
                log_line("could not find selected contact index in OnContactRemoveContact.");
                return true;
            }
            if (ui_ask_yes_no(TXT_CONFIRM_REMOVE_CONTACT) == ANSWER_YES)
                m_session([id](session_controller& ctl) { ctl.remove_contact(id); });
            return true;
        case ID_CONTACT_ADD:
            if (g_logged_in.load() != 1) {
                ui_show(TXT_LOGIN_BEFORE_ADD);
                return true;
            }
            open_dialog(new CDlgAddContact(m_session, m_window));
            return true;
        case ID_GROUP_ADD:
            open_dialog(new CDlgAddGroup(m_session, m_window));
            return true;
        case ID_GROUP_EDIT: {
            int group_id = m_selected_group;
            if (group_id == 0) {
                ui_show(TXT_EDIT_DEFAULT_GROUP);
                return true;
            }
            m_tree->begin_rename(group_id);
            return true;
        }
        case ID_GROUP_DELETE: {
            int group_id = m_selected_group;
            if (group_id == 0) {
                ui_show(TXT_DELETE_DEFAULT_GROUP);
                return true;
            }
            for (const contact_record& r : contacts_snapshot())
                if (r.group_id == group_id) {
                    ui_show(TXT_DELETE_NON_EMPTY_GROUP);
                    return true;
                }
            if (ui_ask_yes_no(TXT_CONFIRM_REMOVE_GROUP) == ANSWER_YES)
                m_session([group_id](session_controller& ctl) { ctl.delete_group(group_id); });
            return true;
        }
        case ID_CONTACT_KNOCK:
            if (id < 0) {
                ui_show(TXT_SELECT_CONTACT_LOWER);
                log_line("did not find selected_contact_index in OnContactKnockPeer\r\n");
                return true;
            }
            m_session([id](session_controller& ctl) { ctl.knock(id); });
            return true;
        case ID_CONTACT_ALLOW_KNOCK:
        case ID_CONTACT_DISALLOW_KNOCK:
            if (id < 0) {
                ui_show(TXT_SELECT_CONTACT_LOWER);
                log_line(command == ID_CONTACT_ALLOW_KNOCK
                             ? "did not find selected_contact_index in OnContactAllowKnock\r\n"
                             : "did not find selected_contact_index in OnContactDisallowKnock\r\n");
                return true;
            }
            {
                bool blocked = command == ID_CONTACT_DISALLOW_KNOCK;
                m_session(
                    [id, blocked](session_controller& ctl) { ctl.set_knock_blocked(id, blocked); });
            }
            return true;
        default:
            return false;
    }
}
