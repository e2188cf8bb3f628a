// The menus on a contact and on a group node, built when they open. Each action carries its
// command id as data.
#pragma once

class QMenu;
class QWidget;
class QAction;
struct contact_record;

enum contact_command : int {
    ID_CONTACT_VIEW_INFO = 32775,
    ID_CONTACT_CHAT = 32776,
    ID_CONTACT_AUDIO_VIDEO = 32777,
    ID_CONTACT_OFFLINE_MESSAGE = 32780,
    ID_CONTACT_REMOVE = 32782,
    ID_CONTACT_ADD = 32785,
    ID_GROUP_ADD = 32791,
    ID_GROUP_EDIT = 32792,
    ID_GROUP_DELETE = 32793,
    ID_CONTACT_FILE_TRANSFER = 32824,
    ID_CONTACT_KNOCK = 32826,
    ID_CONTACT_DISALLOW_KNOCK = 32828,
    ID_CONTACT_ALLOW_KNOCK = 32829,
};

// Offline contacts (states 0 and 7) grey the chat, media, file and knock items; online ones grey
// "Offline Message". The last item allows or disallows knocks from the contact.
QMenu* build_contact_menu(const contact_record& c, QWidget* parent);
// "Default Group" (group id 0) has neither "Edit Group" nor "Delete Group".
QMenu* build_group_menu(int group_id, QWidget* parent);
// The item of a menu with that command id, or nullptr.
QAction* menu_action(const QMenu* menu, int command);
