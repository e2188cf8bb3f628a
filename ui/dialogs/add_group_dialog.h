// CDlgAddGroup: asks for a group name (at most 31 characters) and requests it (310).
#pragma once
#include "ui/dialogs/dialog_base.h"

class QLineEdit;

#include "ui/dialogs/session_call.h"

class CDlgAddGroup : public parlo_dialog {
    Q_OBJECT
public:
    explicit CDlgAddGroup(session_runner session, QWidget* parent = nullptr);
    QLineEdit* name_edit() const { return m_name; }
    void accept() override;

private:
    session_runner m_session;
    QLineEdit* m_name;
};
