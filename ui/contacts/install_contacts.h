// Puts the contact tree, its menus and dialogs into the main window: the tree fills the window's
// tree area, the panel becomes the window's contact hooks and reaches the controller on the
// session thread. GUI thread, once, before the session starts. The asker (the one the window's
// controller asks) gets the window's questions, where its dialogs open.
#pragma once

class CContactPanel;
class CParloDlg;
class ui_question_asker;

CContactPanel* install_contacts(CParloDlg* window, ui_question_asker& asker);
