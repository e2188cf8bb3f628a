#include "ui/transfer/file_transfer_ui.h"

#include <QFileDialog>
#include <QFileInfo>

#include "platform/message_box.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/file_dispatch.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/dialogs/dialog_texts.h"

QString incomplete_reason_text(intptr_t reason) {
    switch (reason) {
        case 1:
            return ui_text(T_WHY_CLOSED);
        case 2:
            return ui_text(T_WHY_SILENT);
        case 3:
            return ui_text(T_WHY_WRITE);
        case 4:
            return ui_text(T_WHY_REPLACED);
        case 5:
            return ui_text(T_WHY_STOPPED);
        default:
            return ui_text(T_WHY_UNKNOWN);
    }
}

QString send_failure_text(intptr_t reason) {
    switch (reason) {
        case 1:
            return ui_text(T_WHY_OPEN);
        case 2:
            return ui_text(T_WHY_CONNECT);
        case 3:
            return ui_text(T_WHY_READ);
        case 4:
            return ui_text(T_WHY_REFUSED);
        case 5:
            return ui_text(T_WHY_STOPPED);
        default:
            return ui_text(T_WHY_UNKNOWN);
    }
}

file_transfer_ui::file_transfer_ui(session_runner session, QWidget* window)
    : QObject(window), m_session(std::move(session)), m_window(window) {
    choose_file_to_send = [this] {
        return QFileDialog::getOpenFileName(m_window, ui_text(TXT_TRANSFER_FILE), QString(),
                                            ui_text(T_ALL_FILES));
    };
}

int file_transfer_ui::offer(int peer_id) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) {
        ui_show(TXT_SELECT_CONTACT_LOWER);
        return -1;
    }
    QString path = choose_file_to_send();
    if (path.isEmpty()) return -1;
    QString name = QFileInfo(path).fileName();
    if (ui_ask_yes_no(TXT_CONFIRM_TRANSFER_FILE, {name, QString::fromUtf8(c.display_name)}) !=
        ANSWER_YES)
        return -1;
    std::string p = QFile::encodeName(path).toStdString();
    // The offer may open a connection to the peer first: a job, never this thread.
    m_session([peer_id, p](session_controller& ctl) { ctl.offer_file(peer_id, p.c_str()); });
    return 0;
}

CDlgFileProgress* file_transfer_ui::window_for(int peer_id, bool sending) const {
    auto it = m_windows.find({peer_id, sending});
    return it == m_windows.end() ? nullptr : it->second.data();
}

CDlgFileProgress* file_transfer_ui::open_window(int peer_id, bool sending) {
    CDlgFileProgress* w = window_for(peer_id, sending);
    if (!w) {
        contact_record c;
        QString who = contact_by_id(peer_id, &c) ? QString::fromUtf8(c.display_name)
                                                 : QString::number(peer_id);
        QString title = ui_text(sending ? T_SENDING_TO : T_RECEIVING_FROM, {who});
        w = new CDlgFileProgress(peer_id, sending, title, m_window);
        m_windows[{peer_id, sending}] = w;
    }
    file_progress p;
    if (file_transfers().progress(peer_id, sending, &p))
        w->set_file(QString::fromUtf8(p.name.c_str()), p.total);
    w->show();
    return w;
}

void file_transfer_ui::file_accepted(int peer_id, intptr_t) {
    open_window(peer_id, true)->update_bytes(0, get_tick_count());
}

void file_transfer_ui::file_send_progress(int peer_id, intptr_t bytes) {
    CDlgFileProgress* w = open_window(peer_id, true);
    w->update_bytes(bytes, get_tick_count());
    file_progress p;
    if (file_transfers().progress(peer_id, true, &p) && p.finished && !p.active && p.bytes == bytes)
        w->finish(true, ui_text(T_SENT_BYTES, {size_text(p.bytes)}));
}

void file_transfer_ui::file_recv_progress(int peer_id, intptr_t bytes) {
    open_window(peer_id, false)->update_bytes(bytes, get_tick_count());
}

void file_transfer_ui::file_saved(int peer_id, intptr_t) {
    file_progress p;
    file_transfers().progress(peer_id, false, &p);
    open_window(peer_id, false)->finish(true, ui_text(T_SAVED_BYTES, {size_text(p.bytes)}));
}

void file_transfer_ui::file_recv_incomplete(int peer_id, intptr_t reason) {
    file_progress p;
    file_transfers().progress(peer_id, false, &p);
    open_window(peer_id, false)
        ->finish(false,
                 ui_text(T_STOPPED_AFTER, {size_text(p.bytes), incomplete_reason_text(reason)}));
}

void file_transfer_ui::file_send_failed(int peer_id, intptr_t reason) {
    file_progress p;
    file_transfers().progress(peer_id, true, &p);
    open_window(peer_id, true)
        ->finish(false, ui_text(T_STOPPED_AFTER, {size_text(p.bytes), send_failure_text(reason)}));
}
