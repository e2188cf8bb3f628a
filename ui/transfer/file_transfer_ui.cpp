#include "ui/transfer/file_transfer_ui.h"

#include <QFileDialog>
#include <QFileInfo>

#include "platform/message_box.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/commands.h"
#include "protocol/file_dispatch.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/dialogs/ui_text.h"

namespace {
QStringList names_of(const contact_record& c) {
    return {QString::fromUtf8(c.first_name), QString::fromUtf8(c.last_name),
            QString::fromUtf8(c.email)};
}
}  // namespace

QString incomplete_reason_text(intptr_t reason) {
    switch (reason) {
    case 1: return file_transfer_ui::tr("the connection closed");
    case 2: return file_transfer_ui::tr("no data arrived for a minute");
    case 3: return file_transfer_ui::tr("the file could not be written");
    case 4: return file_transfer_ui::tr("a new file from the same contact replaced it");
    case 5: return file_transfer_ui::tr("the transfer was stopped");
    default: return file_transfer_ui::tr("an unknown reason");
    }
}

QString send_failure_text(intptr_t reason) {
    switch (reason) {
    case 1: return file_transfer_ui::tr("the file could not be opened");
    case 2: return file_transfer_ui::tr("the connection failed");
    case 3: return file_transfer_ui::tr("the file could not be read");
    case 4: return file_transfer_ui::tr("the receiver refused it");
    case 5: return file_transfer_ui::tr("the transfer was stopped");
    default: return file_transfer_ui::tr("an unknown reason");
    }
}

file_transfer_ui::file_transfer_ui(session_controller& controller, QWidget* window)
    : QObject(window), m_controller(controller), m_window(window) {
    choose_file_to_send = [this] {
        return QFileDialog::getOpenFileName(m_window, tr("Transfer File"), QString(),
                                            tr("All Files (*)"));
    };
    choose_save_path = [this](const QString& proposed) {
        // The dialog asks before it overwrites an existing file.
        return QFileDialog::getSaveFileName(m_window, tr("Save"), proposed, tr("All Files (*)"));
    };
    run_job = [](std::function<void()> fn) { start_job(std::move(fn)); };
}

bool file_transfer_ui::handles(int n) {
    return n == NM_FILE_ACCEPTED || n == NM_FILE_REFUSED || n == NM_FILE_DONE ||
           (n >= kNotifyFileSendProgress && n <= kNotifyFileSendFailed);
}

int file_transfer_ui::offer(int peer_id) {
    contact_record c;
    if (!contact_by_id(peer_id, &c)) {
        ui_show(221);
        return -1;
    }
    QString path = choose_file_to_send();
    if (path.isEmpty()) return -1;
    QString name = QFileInfo(path).fileName();
    if (ui_ask_yes_no(222, {name, QString::fromUtf8(c.display_name)}) != ANSWER_YES) return -1;
    std::string p = QFile::encodeName(path).toStdString();
    // The offer may open a connection to the peer first: a job, never this thread.
    run_job([peer_id, p] { file_transfers().offer_file(peer_id, p.c_str()); });
    return 0;
}

int file_transfer_ui::ask_offer(const contact_record& c, const char* offered_name,
                                std::string* save_as) {
    QString offered = QString::fromUtf8(offered_name);
    QStringList args = names_of(c);
    args << offered;
    if (ui_ask_yes_no(207, args) != ANSWER_YES) return ANSWER_NO;
    QString path = choose_save_path(offered);
    if (path.isEmpty()) return ANSWER_NO;  // a cancelled save dialog refuses the file
    *save_as = QFile::encodeName(path).toStdString();
    return ANSWER_YES;
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
        QString title = sending ? tr("Sending to %1").arg(who) : tr("Receiving from %1").arg(who);
        w = new CDlgFileProgress(peer_id, sending, title, m_window);
        m_windows[{peer_id, sending}] = w;
    }
    file_progress p;
    if (m_controller.file_transfer_progress(peer_id, sending, &p))
        w->set_file(QString::fromUtf8(p.name.c_str()), p.total);
    w->show();
    return w;
}

void file_transfer_ui::on_notification(int n, intptr_t wparam, intptr_t lparam) {
    int peer_id = static_cast<int>(wparam);
    contact_record c;
    bool known = contact_by_id(peer_id, &c);
    file_progress p;
    switch (n) {
    case NM_FILE_ACCEPTED: {
        CDlgFileProgress* w = open_window(peer_id, true);
        w->update_bytes(0, get_tick_count());
        if (known) {
            QStringList args = {QString::fromUtf8(c.send_file_name)};
            args << names_of(c);
            ui_show(208, args);
        }
        break;
    }
    case NM_FILE_REFUSED:
        if (known) ui_show(209, names_of(c));
        break;
    case kNotifyFileSendProgress: {
        CDlgFileProgress* w = open_window(peer_id, true);
        w->update_bytes(lparam, get_tick_count());
        if (m_controller.file_transfer_progress(peer_id, true, &p) && p.finished && !p.active &&
            p.bytes == lparam)
            w->finish(true, tr("Sent %1.").arg(size_text(p.bytes)));
        break;
    }
    case kNotifyFileRecvProgress:
        open_window(peer_id, false)->update_bytes(lparam, get_tick_count());
        break;
    case NM_FILE_DONE: {
        // The controller has emptied the contact's receive fields; the transfer keeps the path.
        m_controller.file_transfer_progress(peer_id, false, &p);
        CDlgFileProgress* w = open_window(peer_id, false);
        w->finish(true, tr("Saved %1.").arg(size_text(p.bytes)));
        if (known) {
            QStringList args = {QString::fromUtf8(p.path.c_str())};
            args << names_of(c);
            ui_show(210, args);
        }
        break;
    }
    case kNotifyFileRecvIncomplete: {
        m_controller.file_transfer_progress(peer_id, false, &p);
        QString text = tr("The file %1 from %2 is incomplete (%3 received): %4. It was kept as %5.")
                           .arg(QString::fromUtf8(p.name.c_str()),
                                known ? QString::fromUtf8(c.display_name) : QString::number(peer_id),
                                size_text(p.bytes), incomplete_reason_text(lparam),
                                QString::fromUtf8(p.path.c_str()));
        open_window(peer_id, false)->finish(false, text);
        ui_show_text(text);
        break;
    }
    case kNotifyFileSendFailed: {
        m_controller.file_transfer_progress(peer_id, true, &p);
        QString text = tr("Sending %1 to %2 failed after %3: %4.")
                           .arg(QString::fromUtf8(p.name.c_str()),
                                known ? QString::fromUtf8(c.display_name) : QString::number(peer_id),
                                size_text(p.bytes), send_failure_text(lparam));
        open_window(peer_id, true)->finish(false, text);
        ui_show_text(text);
        break;
    }
    default: break;
    }
}
