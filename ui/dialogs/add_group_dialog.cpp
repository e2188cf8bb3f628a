#include "ui/dialogs/add_group_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/session_controller.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

CDlgAddGroup::CDlgAddGroup(session_runner session, QWidget* parent)
    : parlo_dialog(parent), m_session(std::move(session)) {
    setWindowTitle(ui_text(T_ADD_GROUP));
    m_name = new CMyEdit_no_scroll(this);
    m_name->setMaxLength(31);
    auto* ok = new CMyButton(ui_text(T_OK), this);
    auto* cancel = new CMyButton(ui_text(T_CANCEL), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgAddGroup::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new CMyStatic(ui_text(T_GROUP_PROMPT), this));
    top->addWidget(m_name);
    top->addLayout(row);
}

void CDlgAddGroup::accept() {
    // An empty name goes to the server as well; it answers with a refusal.
    std::string name = m_name->text().left(31).toUtf8().toStdString();
    m_session([name](session_controller& c) { c.add_group(name.c_str()); });
    parlo_dialog::accept();
}
