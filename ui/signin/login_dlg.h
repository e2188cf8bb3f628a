// The sign-in dialog: e-mail, password (hidden), the two "Remember" boxes, "Sign In" and
// "Cancel". Opening fills in the remembered values; "Sign In" refuses an empty e-mail and one with
// ':' (the dialog stays open) and otherwise closes with the values for the main window, which
// starts the login on a job thread and stores the remembered values there.
#pragma once
#include "ui/skin/good_dlg.h"

class CMyCheckBox;
class CMyEdit_no_scroll;
class CMyButton;

class CDlgLogin : public Cgood_dlg {
    Q_OBJECT
public:
    // Longest e-mail and password taken from the fields.
    static constexpr int kMaxEmail = 126;
    static constexpr int kMaxPassword = 31;

    explicit CDlgLogin(QWidget* parent = nullptr);
    QString email() const;
    QString password() const;
    bool remember_email() const;
    bool remember_password() const;
    CMyEdit_no_scroll* email_edit() const { return m_email; }
    CMyEdit_no_scroll* password_edit() const { return m_password; }
    CMyButton* sign_in_button() const { return m_sign_in; }
    // The refusal shown by the last "Sign In", or empty.
    QString last_refusal() const { return m_refusal; }
    void set_show_messages(bool show) { m_show_messages = show; }

private:
    void on_sign_in();
    CMyEdit_no_scroll* m_email;
    CMyEdit_no_scroll* m_password;
    CMyCheckBox* m_remember_email;
    CMyCheckBox* m_remember_password;
    CMyButton* m_sign_in;
    QString m_refusal;
    bool m_show_messages = true;
};
