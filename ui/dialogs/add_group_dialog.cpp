#include "ui/dialogs/add_group_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/session_controller.h"

CDlgAddGroup::CDlgAddGroup(session_controller& controller, QWidget* parent)
    : parlo_dialog(parent), m_controller(controller) {
    setWindowTitle(tr("Add Group"));
    m_name = new QLineEdit(this);
    m_name->setMaxLength(31);
    auto* ok = new QPushButton(tr("OK"), this);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgAddGroup::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new QLabel(tr("Please enter group name:"), this));
    top->addWidget(m_name);
    top->addLayout(row);
}

void CDlgAddGroup::accept() {
    // An empty name goes to the server as well; it answers with a refusal.
    m_controller.add_group(m_name->text().left(31).toUtf8().constData());
    parlo_dialog::accept();
}
