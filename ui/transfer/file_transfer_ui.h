// The desktop side of file transfer: offering a file to a contact and a progress window for each
// transfer with its end, complete or not. The texts of 41-43 and 62-63 are the session
// controller's, which the main window shows; an offer from a contact is a question of the main
// window's session_questions (ui/common/questions.h). GUI thread only; the offer itself goes out
// on the session's worker because it may connect to the peer first.
#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "ui/dialogs/session_call.h"
#include "ui/main/contact_hooks.h"
#include "ui/transfer/progress_window.h"

class QWidget;
struct contact_record;

class file_transfer_ui : public QObject, public transfer_ui_hooks {
    Q_OBJECT
public:
    file_transfer_ui(session_runner session, QWidget* window);

    // Seam for the file dialog (tests replace it).
    std::function<QString()> choose_file_to_send;

    // "Transfer File" for the contact: file dialog, confirmation, then the offer (370), which
    // the session sends on a worker. Returns 0 when the offer was handed to the session.
    int offer(int peer_id);
    // transfer_ui_hooks: the progress windows of 41, 43 and 60-63, after the controller handled
    // them.
    void file_accepted(int peer_id, intptr_t) override;
    void file_send_progress(int peer_id, intptr_t bytes) override;
    void file_recv_progress(int peer_id, intptr_t bytes) override;
    void file_saved(int peer_id, intptr_t) override;
    void file_recv_incomplete(int peer_id, intptr_t reason) override;
    void file_send_failed(int peer_id, intptr_t reason) override;

    CDlgFileProgress* window_for(int peer_id, bool sending) const;

private:
    CDlgFileProgress* open_window(int peer_id, bool sending);
    session_runner m_session;
    QWidget* m_window;
    std::map<std::pair<int, bool>, QPointer<CDlgFileProgress>> m_windows;
};

// The texts of a receive that ended early and of a send that failed.
QString incomplete_reason_text(intptr_t reason);
QString send_failure_text(intptr_t reason);
