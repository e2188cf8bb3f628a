// CDlgAddContact (search a contact by e-mail, 260) and CDlgAddContactConfirm (add the found
// contact to the selected group, 280). GUI thread only.
#pragma once
#include "ui/dialogs/dialog_base.h"

class QLabel;
class QLineEdit;

#include "ui/dialogs/session_call.h"

class CDlgAddContact : public parlo_dialog {
    Q_OBJECT
public:
    explicit CDlgAddContact(session_runner session, QWidget* parent = nullptr);
    QLineEdit* email_edit() const { return m_email; }
    // "Search": the checks in order, then 260 and close. False while the dialog stays open.
    bool on_search();

private:
    session_runner m_session;
    QLineEdit* m_email;
};

class CDlgAddContactConfirm : public parlo_dialog {
    Q_OBJECT
public:
    explicit CDlgAddContactConfirm(session_runner session, QWidget* parent = nullptr);
    // "Add": refuses a contact already in the list, else 280 and close.
    bool on_add();

private:
    session_runner m_session;
    int m_found_id;
};
