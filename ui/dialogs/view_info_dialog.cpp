#include "ui/dialogs/view_info_dialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/tables.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

CDlgViewInfo::CDlgViewInfo(const contact_record& c, QWidget* parent) : parlo_dialog(parent) {
    setWindowTitle(ui_text(TXT_VIEW_INFO));
    auto* form = new QFormLayout;
    form->addRow(ui_text(T_FIRST_NAME), new CMyStatic(QString::fromUtf8(c.first_name), this));
    form->addRow(ui_text(T_LAST_NAME), new CMyStatic(QString::fromUtf8(c.last_name), this));
    form->addRow(ui_text(T_EMAIL), new CMyStatic(QString::fromUtf8(c.email), this));
    form->addRow(ui_text(T_NICK_NAME), new CMyStatic(QString::fromUtf8(c.display_name), this));
    auto* close = new CMyButton(ui_text(T_CLOSE), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(close, 0, Qt::AlignRight);
}
