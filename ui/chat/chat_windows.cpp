#include "ui/chat/chat_windows.h"

#include <QMetaObject>

#include "platform/debug_log.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/chat/chat_dlg.h"
#include "ui/common/gui_call.h"

void install_chat_windows(session_controller& controller) {
    controller.set_chat_factory(
        // The controller may run on another thread: windows are made and destroyed on the GUI
        // thread (nothing is made once the application shuts the hand-over down).
        [](int peer_id) -> chat_window* {
            contact_record c{};
            QString nick;
            if (contact_by_id(peer_id, &c)) nick = QString::fromUtf8(c.display_name);
            CDlgPrivateChat* made = nullptr;
            run_on_gui(
                [&made, peer_id, nick] {
                    made = new CDlgPrivateChat(peer_id, nick);
                    return 0;
                },
                0);
            return made;
        },
        [](chat_window* w) {
            auto* dlg = static_cast<CDlgPrivateChat*>(w);
            if (on_gui_thread())
                delete dlg;
            else
                QMetaObject::invokeMethod(
                    dlg, [dlg] { delete dlg; }, Qt::QueuedConnection);
        });
}

CDlgPrivateChat* open_or_show_chat(session_controller& controller, int contact_id, bool expand) {
    auto* w = static_cast<CDlgPrivateChat*>(controller.open_chat(contact_id));
    if (!w) return nullptr;
    if (on_gui_thread())
        w->show_with_panel(expand);
    else
        QMetaObject::invokeMethod(
            w, [w, expand] { w->show_with_panel(expand); }, Qt::QueuedConnection);
    return w;
}

CDlgPrivateChat* show_chat_dlg(session_controller& controller, int contact_id, bool expand) {
    contact_record c{};
    if (!contact_by_id(contact_id, &c)) {
        log_line("did not found contact(contact_id=%d) in show_chat_dlg\r\n", contact_id);
        return nullptr;
    }
    if (c.address[0] == '\0') {
        log_line("contact ip is empty(contact_id=%d) in show_chat_dlg\r\n", contact_id);
        return nullptr;
    }
    return open_or_show_chat(controller, contact_id, expand);
}

void destroy_chat_windows() {
    for (chat_window* w : take_all_chat_dlgs()) delete static_cast<CDlgPrivateChat*>(w);
}
