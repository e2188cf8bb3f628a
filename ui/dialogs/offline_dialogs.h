// CDlgOfflineMessage (write a message for a contact's home server, at most 10000 characters)
// and CDlgShowOfflineMessage (the messages of one sender, which must be discarded or saved).
// GUI thread only; what reaches the network goes through the session.
#pragma once
#include <functional>
#include <string>

#include "ui/dialogs/dialog_base.h"
#include "ui/dialogs/session_call.h"

class QPlainTextEdit;

class CDlgOfflineMessage : public parlo_dialog {
    Q_OBJECT
public:
    CDlgOfflineMessage(int to_contact_id, session_runner session, QWidget* parent = nullptr);
    QPlainTextEdit* edit() const { return m_edit; }

    // Hands a checked message on; the default gives it to the session, which adds the header
    // and sends it to the contact's home server on a worker.
    using sender_fn = std::function<void(int contact_id, std::string text)>;
    void set_sender(sender_fn fn) { m_sender = std::move(fn); }
    // "Send": 0 when the message was handed on (the edit is emptied), else -1 after a message.
    int on_send();

private:
    void on_text_changed();
    int m_to_contact_id;
    QPlainTextEdit* m_edit;
    sender_fn m_sender;
    bool m_cutting = false;
};

class CDlgShowOfflineMessage : public parlo_dialog {
    Q_OBJECT
public:
    CDlgShowOfflineMessage(session_runner session, const QString& text, int sender_id,
                           const QString& sender_label, QWidget* parent = nullptr);
    QPlainTextEdit* edit() const { return m_edit; }

    // Where "Save" writes; the default is a save-file dialog. An empty path means cancelled.
    using chooser_fn = std::function<QString()>;
    void set_chooser(chooser_fn fn) { m_chooser = std::move(fn); }
    void on_discard();
    // Writes the messages; only when every byte was written are they deleted on the server.
    void on_save();
    // Escape and the close box: the user has to discard or save.
    void reject() override;

private:
    session_runner m_session;
    int m_sender_id;
    QPlainTextEdit* m_edit;
    chooser_fn m_chooser;
};
