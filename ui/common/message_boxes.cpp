#include "ui/common/message_boxes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include "platform/debug_log.h"
#include "ui/common/gui_call.h"
#include "ui/common/texts.h"
#include "ui/skin/controls.h"

namespace {
// The notices open now (GUI thread only).
QList<QPointer<CDlgMessage>>& notices() {
    static QList<QPointer<CDlgMessage>> open;
    return open;
}

QLabel* centred_text(const QString& text, QWidget* parent) {
    auto* label = new CMyStatic(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setMinimumWidth(260);
    return label;
}
}  // namespace

CDlgMessage::CDlgMessage(const QString& text, int mode, QWidget* parent)
    : Cgood_dlg(parent), m_mode(mode), m_text(text) {
    setWindowTitle(ui_text(T_MESSAGE));
    auto* box = new QVBoxLayout(this);
    box->addWidget(centred_text(text.left(4094), this));
    auto* row = new QHBoxLayout();
    bool yes_no = mode == MODE_YES_NO;
    m_first = new CMyButton(ui_text(yes_no ? T_YES_CAPS : T_OK), this);
    m_second = new CMyButton(ui_text(yes_no ? T_NO : T_CANCEL), this);
    m_first->setMinimumWidth(80);
    m_second->setMinimumWidth(80);
    m_first->setDefault(true);
    row->addStretch();
    row->addWidget(m_first);
    row->addWidget(m_second);
    row->addStretch();
    box->addLayout(row);
    m_second->setVisible(mode != MODE_OK);
    connect(m_first, &QPushButton::clicked, this,
            [this] { done(m_mode == MODE_YES_NO ? ANSWER_YES : 1); });
    connect(m_second, &QPushButton::clicked, this, [this] { reject(); });
}

void CDlgMessage::reject() {
    // Escape, the close box and the second button.
    switch (m_mode) {
        case MODE_OK:
            done(1);
            break;
        case MODE_YES_NO:
            done(ANSWER_NO);
            break;
        default:
            done(2);
            break;
    }
}

CDlgYesNoCancel::CDlgYesNoCancel(const QString& text, QWidget* parent) : Cgood_dlg(parent) {
    setWindowTitle(ui_text(T_MESSAGE));
    auto* box = new QVBoxLayout(this);
    box->addWidget(centred_text(text, this));
    auto* row = new QHBoxLayout();
    m_yes = new CMyButton(ui_text(T_YES), this);
    m_no = new CMyButton(ui_text(T_NO), this);
    m_cancel = new CMyButton(ui_text(T_CANCEL), this);
    row->addStretch();
    for (CMyButton* b : {m_yes, m_no, m_cancel}) {
        b->setMinimumWidth(72);
        row->addWidget(b);
    }
    row->addStretch();
    box->addLayout(row);
    m_yes->setDefault(true);
    connect(m_yes, &QPushButton::clicked, this, [this] { done(ANSWER_YES); });
    connect(m_no, &QPushButton::clicked, this, [this] { done(ANSWER_NO); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { done(ANSWER_CANCEL); });
}

int show_message_text(const QString& text, QWidget* parent) {
    CDlgMessage d(text, CDlgMessage::MODE_OK, parent);
    return d.exec();
}

int ask_yes_no_text(const QString& text, QWidget* parent) {
    CDlgMessage d(text, CDlgMessage::MODE_YES_NO, parent);
    return d.exec();
}

int ask_yes_no_cancel_text(const QString& text, QWidget* parent) {
    CDlgYesNoCancel d(text, parent);
    return d.exec();
}

CDlgMessage* show_notice(const QString& text, QWidget* parent) {
    QList<QPointer<CDlgMessage>>& open = notices();
    open.removeAll(nullptr);
    for (const QPointer<CDlgMessage>& d : open)
        if (d->text() == text && d->isVisible()) {
            d->raise();
            return d;
        }
    auto* d = new CDlgMessage(text, CDlgMessage::MODE_OK, parent);
    d->setAttribute(Qt::WA_DeleteOnClose);
    open.append(d);
    d->show();
    return d;
}

QList<CDlgMessage*> open_notices() {
    QList<CDlgMessage*> shown;
    for (const QPointer<CDlgMessage>& d : notices())
        if (d && d->isVisible()) shown.append(d);
    return shown;
}

void close_notices() {
    QList<QPointer<CDlgMessage>> open = notices();
    notices().clear();
    for (const QPointer<CDlgMessage>& d : open)
        if (d) d->close();
}

QString core_text(int id, const std::vector<std::string>& args) {
    QStringList words;
    for (const std::string& a : args) words << QString::fromUtf8(a.c_str());
    return ui_text(id, words);
}

namespace {
QWidget* g_message_owner = nullptr;  // GUI thread only
}  // namespace

message_owner_scope::message_owner_scope(QWidget* window) : m_previous(g_message_owner) {
    g_message_owner = window;
}

message_owner_scope::~message_owner_scope() {
    g_message_owner = m_previous;
}

QWidget* message_owner_scope::current() {
    return g_message_owner;
}

void qt_message_boxes::notice(const QString& t) {
    // A report needs no answer: a notice, from any thread, so that neither the reporting thread
    // nor whatever the GUI thread was running waits for the user to close it.
    if (on_gui_thread())
        show_notice(t, message_owner_scope::current());
    else
        post_to_gui(nullptr, [t] { show_notice(t); });
}

int qt_message_boxes::ask(const QString& t, const char* english, bool cancel) {
    if (on_gui_thread())
        return cancel ? ask_yes_no_cancel_text(t, message_owner_scope::current())
                      : ask_yes_no_text(t, message_owner_scope::current());
    log_line("question asked off the GUI thread, answered %s: %.300s\r\n", cancel ? "Cancel" : "No",
             english);
    return cancel ? ANSWER_CANCEL : ANSWER_NO;
}

void qt_message_boxes::show_message(const char* text) {
    notice(QString::fromUtf8(text));
}

int qt_message_boxes::ask_yes_no(const char* text) {
    return ask(QString::fromUtf8(text), text, false);
}

int qt_message_boxes::ask_yes_no_cancel(const char* text) {
    return ask(QString::fromUtf8(text), text, true);
}

void qt_message_boxes::show_text(int id, const std::vector<std::string>& args, const char*) {
    notice(core_text(id, args));
}

int qt_message_boxes::ask_text_yes_no(int id, const std::vector<std::string>& args,
                                      const char* english) {
    // The words are looked up only where the box opens: off the GUI thread nothing is shown.
    return on_gui_thread() ? ask(core_text(id, args), english, false)
                           : ask(QString(), english, false);
}

int qt_message_boxes::ask_text_yes_no_cancel(int id, const std::vector<std::string>& args,
                                             const char* english) {
    return on_gui_thread() ? ask(core_text(id, args), english, true)
                           : ask(QString(), english, true);
}
