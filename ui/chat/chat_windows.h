// The chat windows of the desktop application: made by the controller's factory when a chat
// session opens, registered in the 20-entry table by the core, hidden when closed and destroyed
// only with the main window. GUI thread only.
#pragma once

class CDlgPrivateChat;
class session_controller;

// Makes the controller create CDlgPrivateChat windows for new chat sessions.
void install_chat_windows(session_controller& controller);
// Open-or-show (any thread; the window is shown on the GUI thread): the contact's window, shown
// with its panel expanded or collapsed; a new one when none is open. nullptr when all 20 are in
// use.
CDlgPrivateChat* open_or_show_chat(session_controller& controller, int contact_id, bool expand);
// "Text Chat" (expand false) and "Audio Video" (expand true) on a contact: nothing opens for an
// unknown contact or one without a known address (a debug-log line says why).
CDlgPrivateChat* show_chat_dlg(session_controller& controller, int contact_id, bool expand);
// Takes every window out of the table and destroys it (the main window's destruction).
void destroy_chat_windows();
