#include "ui/common/questions.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "peer/file_transfer.h"
#include "platform/debug_log.h"
#include "platform/message_box.h"
#include "protocol/commands.h"
#include "protocol/file_dispatch.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "ui/common/gui_call.h"
#include "ui/common/texts.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

// ---- The dialog ----

CDlgQuestion::CDlgQuestion(int kind, int peer_id, bool three_buttons, QWidget* parent)
    : Cgood_dlg(parent), m_kind(kind), m_peer_id(peer_id) {
    setWindowTitle(ui_text(T_MESSAGE));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* box = new QVBoxLayout(this);
    m_text = new CMyStatic(QString(), this);
    m_note = new CMyStatic(QString(), this);
    for (CMyStatic* l : {m_text, m_note}) {
        l->setAlignment(Qt::AlignCenter);
        l->setWordWrap(true);
        l->setMinimumWidth(260);
        box->addWidget(l);
    }
    m_note->hide();
    auto* row = new QHBoxLayout();
    m_yes = new CMyButton(ui_text(three_buttons ? T_YES : T_YES_CAPS), this);
    m_no = new CMyButton(ui_text(T_NO), this);
    if (three_buttons) m_cancel = new CMyButton(ui_text(T_CANCEL), this);
    row->addStretch();
    for (CMyButton* b : {m_yes, m_no, m_cancel}) {
        if (!b) continue;
        b->setMinimumWidth(72);
        row->addWidget(b);
    }
    row->addStretch();
    box->addLayout(row);
    m_yes->setDefault(true);
    connect(m_yes, &QPushButton::clicked, this, [this] { answer(ANSWER_YES); });
    connect(m_no, &QPushButton::clicked, this, [this] { answer(ANSWER_NO); });
    if (m_cancel) connect(m_cancel, &QPushButton::clicked, this, [this] { answer(ANSWER_CANCEL); });
}

void CDlgQuestion::set_text(const QString& text) {
    m_text->setText(text.left(4094));
}

QString CDlgQuestion::text() const {
    return m_text->text();
}

void CDlgQuestion::set_note(const QString& note) {
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
    adjustSize();
}

QString CDlgQuestion::note() const {
    return m_note->text();
}

void CDlgQuestion::set_withdrawn(const QString& note) {
    m_withdrawn = true;
    m_yes->setEnabled(false);
    set_note(note);
}

void CDlgQuestion::reject() {
    answer(m_cancel ? ANSWER_CANCEL : ANSWER_NO);
}

void CDlgQuestion::answer(int a) {
    if (m_answered) return;
    m_answered = true;
    // Out of sight first: the answer may open a save dialog, and a new question about the same
    // subject meanwhile gets a dialog of its own.
    hide();
    // A withdrawn question has nothing left to answer.
    if (!m_withdrawn) emit answered(a);
    close();
}

// ---- The open questions ----

session_questions::session_questions(session_runner session, QWidget* window)
    : QObject(window), m_session(std::move(session)), m_window(window) {
    choose_save_path = [this](const QString& proposed) {
        // The dialog asks before it overwrites an existing file.
        return QFileDialog::getSaveFileName(m_window, ui_text(T_SAVE), proposed,
                                            ui_text(T_ALL_FILES));
    };
}

session_questions::~session_questions() {
    close_all();
}

CDlgQuestion* session_questions::dialog(int kind, int peer_id) const {
    auto it = m_open.find({kind, peer_id});
    CDlgQuestion* d = it == m_open.end() ? nullptr : it->second.data();
    return d && !d->is_answered() ? d : nullptr;
}

int session_questions::open_count() const {
    int n = 0;
    for (const auto& [key, d] : m_open)
        if (d && !d->is_answered()) n++;
    return n;
}

CDlgQuestion* session_questions::open(int kind, int peer_id, bool three_buttons,
                                      const QString& title, const QString& text) {
    CDlgQuestion* d = dialog(kind, peer_id);
    if (!d || d->withdrawn()) {
        // A withdrawn or answered dialog stays as it is; the new question gets a dialog of its own.
        m_open.erase({kind, peer_id});
        d = new CDlgQuestion(kind, peer_id, three_buttons, m_window);
        // A closed dialog deletes itself; its entry turns null and is replaced by the next one.
        m_open[{kind, peer_id}] = d;
    } else {
        // The same subject again: the open dialog takes the new words, its old answer handler goes.
        disconnect(d, &CDlgQuestion::answered, this, nullptr);
        d->set_note(QString());
    }
    d->setWindowTitle(title);
    d->set_text(text);
    d->show();
    d->raise();
    return d;
}

void session_questions::ask_added_me(int contact_id, const QString& name, const QString& text) {
    CDlgQuestion* d =
        open(QUESTION_ADDED_ME, contact_id, true, ui_text(T_QUESTION_FROM, {name}), text);
    connect(d, &CDlgQuestion::answered, this,
            [this, contact_id](int a) { answer_relation(QUESTION_ADDED_ME, contact_id, a); });
}

void session_questions::ask_removed_me(int contact_id, const QString& name, const QString& text) {
    CDlgQuestion* d =
        open(QUESTION_REMOVED_ME, contact_id, true, ui_text(T_QUESTION_FROM, {name}), text);
    connect(d, &CDlgQuestion::answered, this,
            [this, contact_id](int a) { answer_relation(QUESTION_REMOVED_ME, contact_id, a); });
}

void session_questions::answer_relation(int kind, int contact_id, int answer) {
    // Cancel leaves the request open on the server (it is asked again at the next sign-in).
    if (answer != ANSWER_YES && answer != ANSWER_NO) return;
    bool accept = answer == ANSWER_YES;
    int wanted = kind == QUESTION_ADDED_ME ? REL_ADDED_ME : REL_REMOVED_ME;
    m_session([contact_id, accept, wanted](session_controller& ctl) {
        contact_record c;
        if (g_logged_in.load() != 1 || !contact_by_id(contact_id, &c) ||
            c.relation_state != wanted) {
            log_line("the request of contact_id:%d was settled meanwhile, answer dropped\r\n",
                     contact_id);
            return;
        }
        if (wanted == REL_ADDED_ME)
            ctl.answer_added_me(contact_id, accept);
        else
            ctl.answer_removed_me(contact_id, accept);
    });
}

void session_questions::ask_read_offline(const QString& text) {
    CDlgQuestion* d = open(QUESTION_READ_OFFLINE, 0, false, ui_text(T_MESSAGE), text);
    connect(d, &CDlgQuestion::answered, this, [this](int a) {
        if (a != ANSWER_YES) return;
        m_session([](session_controller& ctl) {
            if (g_logged_in.load() == 1) ctl.read_offline();
        });
    });
}

void session_questions::ask_file_offer(int peer_id, const QString& name, const QString& text,
                                       const std::string& offered) {
    CDlgQuestion* d =
        open(QUESTION_FILE_OFFER, peer_id, false, ui_text(T_QUESTION_FROM, {name}), text);
    offer_state& o = m_offers[peer_id];
    o.offered = offered;
    o.name = name;
    if (!o.timer) {
        o.timer = new QTimer(this);
        o.timer->setSingleShot(true);
        connect(o.timer, &QTimer::timeout, this, [this, peer_id] { offer_waited(peer_id); });
    }
    // The sender lets an unanswered offer stand for this long before a new one may replace it.
    o.timer->start(static_cast<int>(kFileIdleLimitMs));
    connect(d, &CDlgQuestion::answered, this,
            [this, peer_id, offered](int a) { answer_file(peer_id, offered, a); });
}

void session_questions::offer_waited(int peer_id) {
    CDlgQuestion* d = dialog(QUESTION_FILE_OFFER, peer_id);
    auto it = m_offers.find(peer_id);
    if (!d || d->withdrawn() || it == m_offers.end()) return;
    d->set_note(
        ui_text(T_OFFER_WAITED, {QString::number(kFileIdleLimitMs / 1000), it->second.name}));
}

void session_questions::peer_status(int peer_id, int presence) {
    if (presence != PS_OFFLINE) return;
    CDlgQuestion* d = dialog(QUESTION_FILE_OFFER, peer_id);
    if (!d || d->withdrawn()) return;
    auto it = m_offers.find(peer_id);
    QString name = it == m_offers.end() ? QString::number(peer_id) : it->second.name;
    if (it != m_offers.end() && it->second.timer) it->second.timer->stop();
    d->set_withdrawn(ui_text(T_OFFER_WITHDRAWN, {name}));
}

void session_questions::answer_file(int peer_id, const std::string& offered, int answer) {
    if (auto it = m_offers.find(peer_id); it != m_offers.end() && it->second.timer)
        it->second.timer->stop();
    std::string path;
    if (answer == ANSWER_YES) {
        QString chosen = choose_save_path(save_dialog_name(QString::fromUtf8(offered.c_str())));
        // A cancelled save dialog refuses the file.
        if (!chosen.isEmpty()) path = QFile::encodeName(chosen).toStdString();
    }
    m_session([peer_id, offered, path](session_controller& ctl) {
        // The answer belongs to the offer it was given for: one that ended or was replaced by a
        // newer offer (whose own question is on its way) is not answered with it.
        std::string waiting;
        if (file_transfers().offer_question(peer_id, nullptr, &waiting) != 0 ||
            waiting != offered) {
            log_line("the file offer %.200s of peer_id:%d is gone, answer dropped\r\n",
                     offered.c_str(), peer_id);
            return;
        }
        if (path.empty())
            ctl.answer_file_offer(peer_id, false, nullptr);
        else
            ctl.accept_file_as(peer_id, path.c_str());
    });
}

void session_questions::close_all() {
    for (auto& [peer, o] : m_offers)
        if (o.timer) o.timer->stop();
    auto open = m_open;
    m_open.clear();
    for (auto& [key, d] : open)
        if (d) {
            disconnect(d, &CDlgQuestion::answered, this, nullptr);
            d->close();
        }
}

// ---- The asker on the session thread ----

QString qt_question_asker::words(const user_text& t) {
    QString text = ui_text(t);
    // An id the window texts do not know yet still shows, in English.
    return text.isEmpty() ? QString::fromUtf8(english(t).c_str()) : text;
}

bool qt_question_asker::post(const char* what, std::function<void(session_questions&)> ask) {
    session_questions* q = m_questions.load();
    if (!q) {
        log_line("no window for the question %s; it waits for a later answer\r\n", what);
        return false;
    }
    post_to_gui(q, [q, ask = std::move(ask)] { ask(*q); });
    return true;
}

void qt_question_asker::show_text(const user_text& text) {
    show_message("%s", words(text).toUtf8().constData());
}

int qt_question_asker::ask_added_me(const contact_record& c, const user_text& text) {
    int id = c.contact_id;
    QString name = QString::fromUtf8(c.display_name), t = words(text);
    post("added_me", [id, name, t](session_questions& q) { q.ask_added_me(id, name, t); });
    return ANSWER_CANCEL;
}

int qt_question_asker::ask_removed_me(const contact_record& c, const user_text& text) {
    int id = c.contact_id;
    QString name = QString::fromUtf8(c.display_name), t = words(text);
    post("removed_me", [id, name, t](session_questions& q) { q.ask_removed_me(id, name, t); });
    return ANSWER_CANCEL;
}

int qt_question_asker::ask_read_offline(const user_text& text) {
    QString t = words(text);
    post("offline_waiting", [t](session_questions& q) { q.ask_read_offline(t); });
    // Only Yes reads at once; the dialog's Yes reads later.
    return ANSWER_NO;
}

int qt_question_asker::ask_file_offer(const contact_record& c, const user_text& text,
                                      const char* offered_name, std::string*, std::string*) {
    int id = c.contact_id;
    QString name = QString::fromUtf8(c.display_name), t = words(text);
    std::string offered = offered_name ? offered_name : "";
    post("file_offer",
         [id, name, t, offered](session_questions& q) { q.ask_file_offer(id, name, t, offered); });
    return ANSWER_CANCEL;
}
