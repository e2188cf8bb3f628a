#include "ui/dialogs/contact_search_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

namespace {
QHBoxLayout* button_row(CMyButton* a, CMyButton* b) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(a);
    row->addWidget(b);
    return row;
}
}  // namespace

CDlgAddContact::CDlgAddContact(session_runner session, QWidget* parent)
    : parlo_dialog(parent), m_session(std::move(session)) {
    setWindowTitle(ui_text(T_SEARCH_CAPTION));
    m_email = new CMyEdit_no_scroll(this);
    m_email->setText(QString::fromStdString(get_searched_email()));
    auto* search = new CMyButton(ui_text(T_SEARCH), this);
    auto* cancel = new CMyButton(ui_text(T_CANCEL), this);
    search->setDefault(true);
    connect(search, &QPushButton::clicked, this, [this] { on_search(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new CMyStatic(ui_text(T_SEARCH_PROMPT), this));
    top->addWidget(m_email);
    top->addLayout(button_row(search, cancel));
}

bool CDlgAddContact::on_search() {
    QString e = m_email->text().trimmed();
    if (e.isEmpty()) {
        ui_show(TXT_SEARCH_EMAIL_EMPTY);
        m_email->setFocus();
        return false;
    }
    if (!e.contains('.') || e.startsWith('.') || !e.contains('@') || e.startsWith('@')) {
        ui_show(TXT_SEARCH_EMAIL_WRONG);
        m_email->setFocus();
        return false;
    }
    std::string address = e.left(127).toUtf8().toStdString();
    for (const contact_record& c : contacts_snapshot())
        if (address == c.email) {
            ui_show(TXT_SEARCH_EMAIL_IN_LIST);
            return false;
        }
    m_session([address](session_controller& c) { c.search_contact(address.c_str()); });
    accept();
    return true;
}

CDlgAddContactConfirm::CDlgAddContactConfirm(session_runner session, QWidget* parent)
    : parlo_dialog(parent), m_session(std::move(session)) {
    setWindowTitle(ui_text(T_ADD_CONTACT));
    found_contact f = get_found_contact();
    m_found_id = f.id;
    auto* form = new QFormLayout;
    form->addRow(ui_text(T_FIRST_LABEL), new CMyStatic(QString::fromUtf8(f.first_name), this));
    form->addRow(ui_text(T_LAST_LABEL), new CMyStatic(QString::fromUtf8(f.last_name), this));
    form->addRow(ui_text(T_NICK_LABEL), new CMyStatic(QString::fromUtf8(f.nick_name), this));
    form->addRow(ui_text(T_EMAIL_LABEL), new CMyStatic(QString::fromUtf8(f.email), this));
    auto* add = new CMyButton(ui_text(T_ADD), this);
    auto* cancel = new CMyButton(ui_text(T_CANCEL), this);
    add->setDefault(true);
    connect(add, &QPushButton::clicked, this, [this] { on_add(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new CMyStatic(ui_text(T_ADD_CONFIRM_PROMPT), this));
    top->addLayout(form);
    top->addLayout(button_row(add, cancel));
}

bool CDlgAddContactConfirm::on_add() {
    for (const contact_record& c : contacts_snapshot())
        if (c.contact_id == m_found_id) {
            ui_show(TXT_FOUND_CONTACT_IN_LIST);
            return false;
        }
    m_session([](session_controller& c) { c.add_found_contact(); });
    accept();
    return true;
}
