// The status, main and tray menus and every menu command in one place.
#include <QAction>
#include <QMenu>

#include "protocol/session.h"
#include "ui/common/about_dlg.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/main/main_dlg.h"
#include "ui/main/menu_commands.h"

namespace {
void (*g_open_devices)(QWidget*) = nullptr;  // GUI thread only

QAction* add_command(QMenu* menu, CParloDlg* dlg, int text_id, int command) {
    QAction* a = menu->addAction(ui_text(text_id));
    a->setData(command);
    QObject::connect(a, &QAction::triggered, dlg, [dlg, command] { dlg->on_command(command); });
    return a;
}

void add_status_entries(QMenu* menu, CParloDlg* dlg) {
    int mine = g_my_status.load();
    for (const auto& s : kStatusCommands) {
        QAction* a = add_command(menu, dlg, s.text_id, s.command);
        a->setCheckable(true);
        // The check mark follows the state the server confirmed.
        a->setChecked(s.state == mine);
    }
}
}  // namespace

void set_devices_dialog_opener(void (*open)(QWidget* parent)) {
    g_open_devices = open;
}

QMenu* CParloDlg::make_status_menu() {
    if (g_logged_in.load() != 1) return nullptr;
    auto* menu = new QMenu(this);
    add_status_entries(menu, this);
    return menu;
}

QMenu* CParloDlg::make_main_menu() {
    if (g_logged_in.load() != 1) return nullptr;
    run_in_session([this] { m_controller.select_group(0); });
    auto* menu = new QMenu(this);
    add_command(menu, this, T_ADD_GROUP, ID_ADD_GROUP);
    add_command(menu, this, T_ADD_CONTACT, ID_ADD_CONTACT);
    menu->addSeparator();
    add_command(menu, this, T_DEVICES_MENU, ID_DEVICES);
    menu->addSeparator();
    add_command(menu, this, T_SEND_FEEDBACK, ID_SEND_FEEDBACK);
    add_command(menu, this, T_ABOUT, ID_ABOUT);
    add_command(menu, this, T_WEB_CONFERENCE, ID_WEB_CONFERENCE);
    menu->addSeparator();
    add_command(menu, this, T_EXIT, ID_EXIT);
    return menu;
}

QMenu* CParloDlg::make_tray_menu() {
    auto* menu = new QMenu(this);
    bool in = g_logged_in.load() == 1;
    add_command(menu, this, T_OPEN_MESSENGER, ID_OPEN_MESSENGER);
    if (in)
        add_command(menu, this, T_SIGN_OUT, ID_SIGN_OUT);
    else
        add_command(menu, this, T_SIGN_IN, ID_SIGN_IN);
    add_command(menu, this, T_EXIT, ID_EXIT);
    if (in) {
        QMenu* sub = menu->addMenu(ui_text(T_MY_STATUS));
        add_status_entries(sub, this);
    }
    return menu;
}

QMenu* CParloDlg::make_caption_menu() {
    auto* menu = new QMenu(this);
    add_command(menu, this, T_ABOUT, ID_ABOUT);
    menu->addSeparator();
    add_command(menu, this, T_EXIT, ID_EXIT);
    return menu;
}

void CParloDlg::on_command(int command_id) {
    for (const auto& s : kStatusCommands)
        if (s.command == command_id) {
            // Online clears a chosen Away, Away marks it; the display waits for the server.
            int state = s.state;
            run_in_session(
                [this, state] { m_controller.request_my_status(state, state == 1 || state == 3); });
            return;
        }
    // The tree and the contact dialogs take their commands first.
    if (m_hooks->command(command_id)) return;
    switch (command_id) {
        case ID_OPEN_MESSENGER:
            restore_window();
            break;
        case ID_SIGN_IN:
            restore_window();
            open_sign_in();
            break;
        case ID_SIGN_OUT:
            sign_out();
            break;
        case ID_EXIT:
            accept();
            break;
        case ID_ABOUT: {
            CAboutDlg about(this);
            about.exec();
            break;
        }
        case ID_SEND_FEEDBACK:
            open_web_page("/cgi-bin/messenger/msg_customer/msg_feed_back.pl");
            break;
        case ID_WEB_CONFERENCE:
            open_web_page("/");
            break;
        case ID_DEVICES:
            if (g_open_devices) g_open_devices(this);
            break;
        case ID_ADD_CONTACT:
            if (g_logged_in.load() != 1) show_message_text(ui_text(T_ADD_NEEDS_LOGIN), this);
            break;
        default:
            break;
    }
}
