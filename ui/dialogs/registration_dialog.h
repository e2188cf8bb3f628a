// CDlgRegister: collects the entries of a new account and checks them; the caller sends 250.
// The entries live in process-wide buffers that outlive the dialog, so that Cancel, or the
// server's "Email already exist" answer, brings the dialog back with what the user typed.
// GUI thread only.
#pragma once
#include <string>

#include "ui/dialogs/dialog_base.h"

class QComboBox;
class QLineEdit;

#include "ui/dialogs/session_call.h"

struct registration_buffers {
    std::string email, password, first_name, last_name, nick_name, phone, country;
};
// The buffers (empty at program start).
registration_buffers& g_registration();

class CDlgRegister : public parlo_dialog {
    Q_OBJECT
public:
    explicit CDlgRegister(QWidget* parent = nullptr);

    QLineEdit* email_edit() const { return m_email; }
    QLineEdit* password_edit() const { return m_password; }
    QLineEdit* first_edit() const { return m_first; }
    QLineEdit* last_edit() const { return m_last; }
    QLineEdit* nick_edit() const { return m_nick; }
    QLineEdit* phone_edit() const { return m_phone; }
    QComboBox* country_box() const { return m_country; }

    // "Register": reads the controls into the buffers and checks them in order; true (and the
    // dialog accepted) when they pass, else the first failure is shown and focused.
    bool on_register();
    void on_reset();
    void reject() override;  // "Cancel": keep the entries, send nothing

private:
    void read_controls();
    QLineEdit* m_email;
    QLineEdit* m_password;
    QLineEdit* m_first;
    QLineEdit* m_last;
    QLineEdit* m_nick;
    QLineEdit* m_phone;
    QComboBox* m_country;
};

// The registration flow: the dialog, then 250 with the 512-byte record when it ends with
// "Register". Returns 0 when the request was handed to the session.
int run_registration(QWidget* parent, const session_runner& session);
// 250 from the buffers, through the session.
void send_registration_buffers(const session_runner& session);
