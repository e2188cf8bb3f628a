#include "ui/dialogs/view_info_dialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/tables.h"

CDlgViewInfo::CDlgViewInfo(const contact_record& c, QWidget* parent) : parlo_dialog(parent) {
    setWindowTitle(tr("View Info"));
    auto* form = new QFormLayout;
    form->addRow(tr("First Name"), new QLabel(QString::fromUtf8(c.first_name), this));
    form->addRow(tr("Last Name"), new QLabel(QString::fromUtf8(c.last_name), this));
    form->addRow(tr("Email"), new QLabel(QString::fromUtf8(c.email), this));
    form->addRow(tr("Nick Name"), new QLabel(QString::fromUtf8(c.display_name), this));
    auto* close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(close, 0, Qt::AlignRight);
}
