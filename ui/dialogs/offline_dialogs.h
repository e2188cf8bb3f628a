// CDlgOfflineMessage (write a message for a contact's home server, at most 10000 characters)
// and CDlgShowOfflineMessage (the messages of one sender, which must be discarded or saved).
// GUI thread only; the message itself goes out on a job thread.
#pragma once
#include <functional>
#include <string>

#include "ui/dialogs/dialog_base.h"

class QPlainTextEdit;
class session_controller;

class CDlgOfflineMessage : public parlo_dialog {
    Q_OBJECT
public:
    CDlgOfflineMessage(int to_contact_id, QWidget* parent = nullptr);
    QPlainTextEdit* edit() const { return m_edit; }

    // Hands a checked message on; the default starts a job that sends it to the home server.
    using sender_fn = std::function<void(int index, std::string header, std::string text)>;
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
    CDlgShowOfflineMessage(session_controller& controller, const QString& text, int sender_id,
                           const QString& sender_label, QWidget* parent = nullptr);
    QPlainTextEdit* edit() const { return m_edit; }

    // Where "Save" writes; the default is a save-file dialog. An empty path means cancelled.
    using chooser_fn = std::function<QString()>;
    void set_chooser(chooser_fn fn) { m_chooser = std::move(fn); }
    void on_discard();
    void on_save();
    // Escape and the close box: the user has to discard or save.
    void reject() override;

private:
    session_controller& m_controller;
    int m_sender_id;
    QPlainTextEdit* m_edit;
    chooser_fn m_chooser;
};
