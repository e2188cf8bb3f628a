// Command ids of the menus (contact, group, status, main and tray menus).
#pragma once

#include "protocol/text_ids.h"

enum menu_command {
    ID_VIEW_INFO = 32775,
    ID_TEXT_CHAT = 32776,
    ID_AUDIO_VIDEO = 32777,
    ID_OFFLINE_MESSAGE = 32780,
    ID_REMOVE_CONTACT = 32782,
    ID_ADD_CONTACT = 32785,
    ID_ADD_GROUP = 32791,
    ID_EDIT_GROUP = 32792,
    ID_DELETE_GROUP = 32793,
    ID_STATUS_LUNCH = 32798,
    ID_STATUS_RIGHT_BACK = 32802,
    ID_SIGN_OUT = 32809,
    ID_OPEN_MESSENGER = 32810,
    ID_EXIT = 32811,
    ID_SIGN_IN = 32813,
    ID_STATUS_ONLINE = 32817,
    ID_STATUS_BUSY = 32818,
    ID_STATUS_AWAY = 32819,
    ID_STATUS_PHONE = 32820,
    ID_STATUS_APPEAR_OFFLINE = 32821,
    ID_FILE_TRANSFER = 32824,
    ID_KNOCK_PEER = 32826,
    ID_DISALLOW_KNOCK = 32828,
    ID_ALLOW_KNOCK = 32829,
    ID_ABOUT = 32832,
    ID_SEND_FEEDBACK = 32834,
    ID_WEB_CONFERENCE = 32836,
    ID_DEVICES = 32840,
};

class QWidget;
// Opens the audio and video devices dialog over parent; the desktop sets it (the dialog lives
// with the media layers). GUI thread; null leaves the menu command without effect.
void set_devices_dialog_opener(void (*open)(QWidget* parent));

// The seven status commands in menu order with their states 1-7 and text ids.
struct status_command {
    int command;
    int state;
    int text_id;
};
constexpr status_command kStatusCommands[7] = {
    {ID_STATUS_ONLINE, 1, TXT_ONLINE},         {ID_STATUS_BUSY, 2, TXT_BUSY},
    {ID_STATUS_AWAY, 3, TXT_AWAY},             {ID_STATUS_RIGHT_BACK, 4, TXT_RIGHT_BACK},
    {ID_STATUS_PHONE, 5, TXT_ON_PHONE},        {ID_STATUS_LUNCH, 6, TXT_LUNCH},
    {ID_STATUS_APPEAR_OFFLINE, 7, TXT_APPEAR_OFFLINE}};
