#include "ui/dialogs/registration_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/requests.h"
#include "protocol/session_controller.h"
#include "ui/dialogs/countries.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

namespace {
const char kDefaultCountry[] = "United States";

bool blank(const std::string& s) {
    return s.find_first_not_of(" \t") == std::string::npos;
}

std::string read_edit(QLineEdit* e, int max_chars) {
    return e->text().left(max_chars).toUtf8().toStdString();
}

QLineEdit* make_edit(QWidget* parent, int max_chars) {
    auto* e = new CMyEdit_no_scroll(parent);
    e->setMaxLength(max_chars);
    return e;
}

void select_country(QComboBox* box, const QString& name) {
    int i = box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0)
        box->setCurrentIndex(i);
    else
        box->setEditText(name);
}
}  // namespace

registration_buffers& g_registration() {
    static registration_buffers buffers;
    return buffers;
}

CDlgRegister::CDlgRegister(QWidget* parent) : parlo_dialog(parent) {
    setWindowTitle(ui_text(T_REGISTER));
    m_email = make_edit(this, 126);
    m_password = make_edit(this, 62);
    m_password->setEchoMode(QLineEdit::Password);
    m_first = make_edit(this, 30);
    m_last = make_edit(this, 30);
    m_nick = make_edit(this, 126);
    m_phone = make_edit(this, 62);
    m_country = new CMyComboBox(this);
    m_country->setEditable(true);
    m_country->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 0; i < kCountryCount; i++) m_country->addItem(QString::fromUtf8(country_name(i)));
    m_country->lineEdit()->setMaxLength(kCountryChars);

    auto* form = new QFormLayout;
    form->addRow(ui_text(T_REG_EMAIL), m_email);
    form->addRow(ui_text(T_REG_PASSWORD), m_password);
    form->addRow(ui_text(T_REG_FIRST), m_first);
    form->addRow(ui_text(T_REG_LAST), m_last);
    form->addRow(ui_text(T_REG_NICK), m_nick);
    form->addRow(ui_text(T_REG_PHONE), m_phone);
    form->addRow(ui_text(T_REG_COUNTRY), m_country);
    auto* reg = new CMyButton(ui_text(T_REGISTER), this);
    auto* reset = new CMyButton(ui_text(T_RESET), this);
    auto* cancel = new CMyButton(ui_text(T_CANCEL), this);
    reg->setDefault(true);
    connect(reg, &QPushButton::clicked, this, [this] { on_register(); });
    connect(reset, &QPushButton::clicked, this, &CDlgRegister::on_reset);
    connect(cancel, &QPushButton::clicked, this, &CDlgRegister::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(reg);
    buttons->addWidget(reset);
    buttons->addWidget(cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addLayout(buttons);

    const registration_buffers& b = g_registration();
    m_email->setText(QString::fromStdString(b.email));
    m_password->setText(QString::fromStdString(b.password));
    m_first->setText(QString::fromStdString(b.first_name));
    m_last->setText(QString::fromStdString(b.last_name));
    m_nick->setText(QString::fromStdString(b.nick_name));
    m_phone->setText(QString::fromStdString(b.phone));
    select_country(m_country, b.country.empty() ? QString(kDefaultCountry)
                                                : QString::fromStdString(b.country));
}

void CDlgRegister::read_controls() {
    registration_buffers& b = g_registration();
    b = registration_buffers{};
    b.email = read_edit(m_email, 126);
    b.password = read_edit(m_password, 62);
    b.first_name = read_edit(m_first, 30);
    b.last_name = read_edit(m_last, 30);
    b.nick_name = read_edit(m_nick, 126);
    b.phone = read_edit(m_phone, 62);
    b.country = m_country->currentText().left(kCountryChars).toUtf8().toStdString();
}

bool CDlgRegister::on_register() {
    read_controls();
    const registration_buffers& b = g_registration();
    struct check {
        const std::string* text;
        int id;
        QLineEdit* edit;
    };
    const check empties[] = {{&b.email, TXT_REGISTER_EMAIL_EMPTY, m_email},
                             {&b.password, TXT_REGISTER_PASSWORD_EMPTY, m_password},
                             {&b.first_name, TXT_REGISTER_FIRST_NAME_EMPTY, m_first},
                             {&b.last_name, TXT_REGISTER_LAST_NAME_EMPTY, m_last},
                             {&b.nick_name, TXT_REGISTER_NICK_NAME_EMPTY, m_nick}};
    for (const check& c : empties)
        if (blank(*c.text)) {
            ui_show(c.id);
            c.edit->setFocus();
            return false;
        }
    if (b.email.find('@') == std::string::npos || b.email.find('.') == std::string::npos) {
        ui_show(TXT_REGISTER_EMAIL_WRONG);
        m_email->setFocus();
        return false;
    }
    if (b.email.find_first_of(":<> '\"\\") != std::string::npos) {
        ui_show(TXT_REGISTER_EMAIL_CHARS);
        m_email->setFocus();
        return false;
    }
    accept();
    return true;
}

void CDlgRegister::on_reset() {
    g_registration() = registration_buffers{};
    for (QLineEdit* e : {m_email, m_password, m_first, m_last, m_nick, m_phone}) e->clear();
    select_country(m_country, kDefaultCountry);
}

void CDlgRegister::reject() {
    read_controls();
    parlo_dialog::reject();
}

void send_registration_buffers(const session_runner& session) {
    registration_buffers b = g_registration();  // a copy travels to the session
    session([b](session_controller& c) {
        registration_fields f{b.email.c_str(),     b.password.c_str(),  b.first_name.c_str(),
                              b.last_name.c_str(), b.nick_name.c_str(), b.phone.c_str(),
                              b.country.c_str()};
        c.register_user(f);
    });
}

int run_registration(QWidget* parent, const session_runner& session) {
    CDlgRegister dlg(parent);
    if (dlg.exec() != QDialog::Accepted) return -1;
    send_registration_buffers(session);
    return 0;
}
