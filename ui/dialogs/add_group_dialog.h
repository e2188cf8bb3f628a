// CDlgAddGroup: asks for a group name (at most 31 characters) and requests it (310).
#pragma once
#include "ui/dialogs/dialog_base.h"

class QLineEdit;
class session_controller;

class CDlgAddGroup : public parlo_dialog {
    Q_OBJECT
public:
    explicit CDlgAddGroup(session_controller& controller, QWidget* parent = nullptr);
    QLineEdit* name_edit() const { return m_name; }
    void accept() override;

private:
    session_controller& m_controller;
    QLineEdit* m_name;
};
