#include "ui/signin/login_dlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "protocol/session_controller.h"
#include "ui/common/message_boxes.h"
#include "ui/common/texts.h"
#include "ui/skin/controls.h"

CDlgLogin::CDlgLogin(QWidget* parent) : Cgood_dlg(parent) {
    setWindowTitle(ui_text(T_SIGN_IN));
    auto* box = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    m_email = new CMyEdit_no_scroll(this);
    m_password = new CMyEdit_no_scroll(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_email->setMinimumWidth(220);
    form->addRow(new CMyStatic(ui_text(T_EMAIL_LABEL), this), m_email);
    form->addRow(new CMyStatic(ui_text(T_PASSWORD_LABEL), this), m_password);
    box->addLayout(form);
    m_remember_email = new CMyCheckBox(ui_text(T_REMEMBER_EMAIL), this);
    m_remember_password = new CMyCheckBox(ui_text(T_REMEMBER_PASSWD), this);
    box->addWidget(m_remember_email);
    box->addWidget(m_remember_password);
    auto* row = new QHBoxLayout();
    m_sign_in = new CMyButton(ui_text(T_SIGN_IN), this);
    auto* cancel = new CMyButton(ui_text(T_CANCEL), this);
    m_sign_in->setDefault(true);
    m_sign_in->setMinimumWidth(80);
    cancel->setMinimumWidth(80);
    row->addStretch();
    row->addWidget(m_sign_in);
    row->addWidget(cancel);
    box->addLayout(row);
    connect(m_sign_in, &QPushButton::clicked, this, &CDlgLogin::on_sign_in);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    session_controller::remembered r = session_controller::load_remembered();
    if (r.remember_email) {
        m_remember_email->setChecked(true);
        m_email->setText(QString::fromUtf8(r.email.c_str()));
    }
    if (r.remember_passwd) {
        m_remember_password->setChecked(true);
        m_password->setText(QString::fromUtf8(r.password.c_str()));
    }
    if (m_email->text().isEmpty())
        m_email->setFocus();
    else
        m_password->setFocus();
}

QString CDlgLogin::email() const { return m_email->text().left(kMaxEmail); }
QString CDlgLogin::password() const { return m_password->text().left(kMaxPassword); }
bool CDlgLogin::remember_email() const { return m_remember_email->isChecked(); }
bool CDlgLogin::remember_password() const { return m_remember_password->isChecked(); }

void CDlgLogin::on_sign_in() {
    QString e = email();
    m_refusal.clear();
    if (e.isEmpty())
        m_refusal = ui_text(T_EMAIL_BLANK);
    else if (e.contains(':'))
        m_refusal = ui_text(T_EMAIL_COLON);
    if (!m_refusal.isEmpty()) {
        if (m_show_messages) show_message_text(m_refusal, this);
        m_email->setFocus();
        return;
    }
    accept();
}
