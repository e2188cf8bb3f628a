#include "ui/dialogs/offline_dialogs.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/debug_log.h"
#include "platform/thread.h"
#include "protocol/commands.h"
#include "protocol/offline.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

namespace {
// The skinned title bar centres the caption between the left edge and the close button: a title
// wider than that space would lose both ends. The window is made wide enough for the title (up
// to kMaxTitleWidth); what still does not fit is cut at its end with an ellipsis.
constexpr int kMaxTitleWidth = 640;
constexpr int kTitleChrome = 41 + 3 + 12;  // close button, left margin, some air

void fit_title(QWidget* dlg, const QString& title) {
    QFontMetrics fm(dlg->font());
    // A pixel or two to spare: eliding measures a little differently from the whole text.
    int room = std::min(fm.horizontalAdvance(title) + 2, kMaxTitleWidth - kTitleChrome);
    dlg->setMinimumWidth(std::max(dlg->minimumWidth(), room + kTitleChrome));
    dlg->setWindowTitle(fm.elidedText(title, Qt::ElideRight, room));
}
}  // namespace

CDlgOfflineMessage::CDlgOfflineMessage(int to_contact_id, session_runner session, QWidget* parent)
    : parlo_dialog(parent), m_to_contact_id(to_contact_id) {
    setWindowTitle(ui_text(TXT_OFFLINE_MESSAGE));
    contact_record c;
    if (contact_by_id(to_contact_id, &c)) {
        QString caption =
            ui_text(T_OFFLINE_TO, {QString::fromUtf8(c.first_name), QString::fromUtf8(c.last_name),
                                   QString::fromUtf8(c.email)});
        fit_title(this, caption.left(99));
    }
    m_edit = new CMyEdit(this);
    auto* send_on_return = new CMyCheckBox(ui_text(T_SEND_ON_RETURN), this);
    send_on_return->hide();
    auto* send = new CMyButton(ui_text(T_SEND), this);
    auto* clear = new CMyButton(ui_text(T_CLEAR), this);
    auto* close = new CMyButton(ui_text(T_CLOSE), this);
    connect(m_edit, &QPlainTextEdit::textChanged, this, &CDlgOfflineMessage::on_text_changed);
    connect(send, &CMyButton::clicked, this, [this] { on_send(); });
    connect(clear, &CMyButton::clicked, m_edit, &QPlainTextEdit::clear);
    connect(close, &CMyButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addWidget(send_on_return);
    row->addStretch();
    row->addWidget(send);
    row->addWidget(clear);
    row->addWidget(close);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_edit);
    top->addLayout(row);
    m_sender = [session = std::move(session)](int contact_id, std::string text) {
        session([contact_id, text](session_controller& ctl) {
            ctl.send_offline_message(contact_id, text);
        });
    };
}

void CDlgOfflineMessage::on_text_changed() {
    if (m_cutting) return;
    QString text = m_edit->toPlainText();
    if (text.size() <= kOfflineMaxChars) return;
    m_cutting = true;
    ui_show(TXT_OFFLINE_TOO_LONG);
    m_edit->setPlainText(text.left(kOfflineMaxChars));
    m_edit->moveCursor(QTextCursor::End);
    m_cutting = false;
}

int CDlgOfflineMessage::on_send() {
    QString text = m_edit->toPlainText().left(10239);
    if (text.size() > kOfflineMaxChars) {
        ui_show(TXT_OFFLINE_TOO_LONG);
        return -1;
    }
    if (m_to_contact_id <= 0) {
        ui_show(TXT_OFFLINE_NO_CONTACT);
        log_line("m_to_contact_id < 0 in OnBnCkuckedOk.\r\n");
        return -1;
    }
    contact_record c;
    if (!contact_by_id(m_to_contact_id, &c)) {
        log_line("did not find contact_id:%d in g_contact array.\r\n", m_to_contact_id);
        ui_show(TXT_OFFLINE_CONTACT_UNKNOWN);
        return -1;
    }
    // The edit's line ends become the CR LF pairs of the stored message.
    std::string body = text.toUtf8().toStdString();
    std::string crlf;
    for (char ch : body) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    m_sender(m_to_contact_id, crlf);
    m_edit->clear();
    return 0;
}

CDlgShowOfflineMessage::CDlgShowOfflineMessage(session_runner session, const QString& text,
                                               int sender_id, const QString& sender_label,
                                               QWidget* parent)
    : parlo_dialog(parent), m_session(std::move(session)), m_sender_id(sender_id) {
    fit_title(this, ui_text(T_OFFLINE_FROM, {sender_label}));
    m_edit = new CMyEdit(this);
    m_edit->setReadOnly(true);
    m_edit->setPlainText(text);
    auto* discard = new CMyButton(ui_text(T_DISCARD), this);
    auto* save = new CMyButton(ui_text(T_SAVE), this);
    connect(discard, &QPushButton::clicked, this, &CDlgShowOfflineMessage::on_discard);
    connect(save, &QPushButton::clicked, this, &CDlgShowOfflineMessage::on_save);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(discard);
    row->addWidget(save);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_edit);
    top->addLayout(row);
    m_chooser = [this] {
        QFileDialog dlg(this, ui_text(T_SAVE));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix("txt");
        dlg.setNameFilters({ui_text(T_TEXT_FILES), ui_text(T_ALL_FILES)});
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
        return dlg.selectedFiles().front();
    };
}

void CDlgShowOfflineMessage::on_discard() {
    int id = m_sender_id;
    m_session([id](session_controller& c) { c.discard_offline(id); });
    accept();
}

void CDlgShowOfflineMessage::on_save() {
    QString path = m_chooser();
    if (path.isEmpty()) return;
    QByteArray text = m_edit->toPlainText().replace("\n", "\r\n").toUtf8();
    QFile f(path);
    // A file that cannot be written (or a full disk) is reported and the viewer stays open: the
    // messages stay on the server.
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    if (f.isOpen()) f.close();
    if (!ok || f.error() != QFileDevice::NoError) {
        ui_show(TXT_WRITE_FILE_FAILED);
        return;
    }
    on_discard();
}

void CDlgShowOfflineMessage::reject() {
    ui_show(TXT_OFFLINE_CHOOSE);
}
