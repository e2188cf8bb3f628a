#include "ui/contacts/contact_menus.h"

#include <QMenu>

#include "protocol/commands.h"
#include "protocol/tables.h"
#include "ui/dialogs/dialog_texts.h"

namespace {
QAction* add(QMenu* menu, int text_id, int command) {
    QAction* a = menu->addAction(ui_text(text_id));
    a->setData(command);
    return a;
}
}  // namespace

QMenu* build_contact_menu(const contact_record& c, QWidget* parent) {
    auto* menu = new QMenu(parent);
    bool online = c.presence != PS_OFFLINE && c.presence != PS_APPEAR_OFFLINE;
    add(menu, TXT_VIEW_INFO, ID_CONTACT_VIEW_INFO);
    add(menu, TXT_TEXT_CHAT, ID_CONTACT_CHAT)->setEnabled(online);
    add(menu, TXT_AUDIO_VIDEO, ID_CONTACT_AUDIO_VIDEO)->setEnabled(online);
    add(menu, TXT_TRANSFER_FILE, ID_CONTACT_FILE_TRANSFER)->setEnabled(online);
    add(menu, TXT_OFFLINE_MESSAGE, ID_CONTACT_OFFLINE_MESSAGE)->setEnabled(!online);
    add(menu, TXT_REMOVE_CONTACT, ID_CONTACT_REMOVE);
    add(menu, TXT_ADD_CONTACT, ID_CONTACT_ADD);
    menu->addSeparator();
    add(menu, TXT_KNOCK_PEER, ID_CONTACT_KNOCK)->setEnabled(online);
    if (c.knock_blocked == 1)
        add(menu, TXT_ALLOW_KNOCK, ID_CONTACT_ALLOW_KNOCK);
    else
        add(menu, TXT_DISALLOW_KNOCK, ID_CONTACT_DISALLOW_KNOCK);
    return menu;
}

QMenu* build_group_menu(int group_id, QWidget* parent) {
    auto* menu = new QMenu(parent);
    add(menu, TXT_ADD_GROUP, ID_GROUP_ADD);
    if (group_id != 0) {
        add(menu, TXT_EDIT_GROUP, ID_GROUP_EDIT);
        add(menu, TXT_DELETE_GROUP, ID_GROUP_DELETE);
    }
    add(menu, TXT_ADD_CONTACT, ID_CONTACT_ADD);
    return menu;
}

QAction* menu_action(const QMenu* menu, int command) {
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->data().toInt() == command) return a;
    return nullptr;
}
