// The session's questions to the user (a contact added me, a contact removed me, offline messages
// wait, a contact offers a file), asked without waiting for the answer.
//
// The asker (qt_question_asker) runs on the session thread, where the controller asks. It hands
// the question to the GUI thread and answers at once: ANSWER_CANCEL (ANSWER_NO for the offline
// question), so the controller leaves the exchange open, as it does for the headless client. Keep-
// alives, presence, level meters and the user's own lines go on meanwhile.
//
// The GUI thread (session_questions) shows each question as a non-modal dialog, one per subject:
// the kind and the contact. Asked again about the same subject, the open dialog takes the new words
// and comes to the front. The user's answer goes to the session thread through the session runner,
// where the controller's entry point completes the exchange (answer_added_me, answer_removed_me,
// read_offline, accept_file_as, answer_file_offer), after checking that the question still stands:
// an answer to a request or an offer that has gone meanwhile is dropped with a log line.
//
// A file offer waits on the sender's side for kFileIdleLimitMs; past that the dialog says so (the
// answer may still be taken). When the sender goes offline, the dialog says the offer was
// withdrawn and only closes. Signing out closes every open question.
#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "protocol/session_controller.h"
#include "ui/dialogs/session_call.h"
#include "ui/skin/good_dlg.h"

class CMyButton;
class CMyStatic;
class QTimer;

enum question_kind {
    QUESTION_ADDED_ME = 1,
    QUESTION_REMOVED_ME = 2,
    QUESTION_READ_OFFLINE = 3,
    QUESTION_FILE_OFFER = 4,
};

// One open question: its words, a note under them (a time-out, a withdrawal) and the buttons
// "Yes"/"No"/"Cancel" (three) or "YES"/"No" (two). Non-modal; answered() carries ANSWER_YES,
// ANSWER_NO or ANSWER_CANCEL (Escape and the close box: Cancel with three buttons, No with two),
// then the dialog closes. GUI thread only.
class CDlgQuestion : public Cgood_dlg {
    Q_OBJECT
public:
    CDlgQuestion(int kind, int peer_id, bool three_buttons, QWidget* parent = nullptr);
    int kind() const { return m_kind; }
    int peer_id() const { return m_peer_id; }
    void set_text(const QString& text);
    QString text() const;
    void set_note(const QString& note);
    QString note() const;
    // The question no longer stands: the note says why, and every button only closes.
    void set_withdrawn(const QString& note);
    bool withdrawn() const { return m_withdrawn; }
    bool is_answered() const { return m_answered; }
    CMyButton* yes_button() const { return m_yes; }
    CMyButton* no_button() const { return m_no; }
    CMyButton* cancel_button() const { return m_cancel; }  // null with two buttons
    void reject() override;

signals:
    void answered(int answer);

private:
    void answer(int a);
    int m_kind;
    int m_peer_id;
    bool m_withdrawn = false;
    bool m_answered = false;
    CMyStatic* m_text;
    CMyStatic* m_note;
    CMyButton* m_yes;
    CMyButton* m_no;
    CMyButton* m_cancel = nullptr;
};

// The open questions of one main window. GUI thread only; the asker reaches it with post_to_gui.
class session_questions : public QObject {
    Q_OBJECT
public:
    // Answers go to session (the session thread in the application); dialogs open over window.
    session_questions(session_runner session, QWidget* window);
    ~session_questions() override;

    void ask_added_me(int contact_id, const QString& name, const QString& text);
    void ask_removed_me(int contact_id, const QString& name, const QString& text);
    void ask_read_offline(const QString& text);
    // offered: the file name as the contact sent it (UTF-8), proposed in the save dialog and
    // compared with the waiting offer when the answer arrives.
    void ask_file_offer(int peer_id, const QString& name, const QString& text,
                        const std::string& offered);

    // A contact's presence changed: gone offline, its file offer is withdrawn.
    void peer_status(int peer_id, int presence);
    // Signed out: every open question closes unanswered.
    void close_all();

    // The open, unanswered dialog of a subject (null when none) and how many there are.
    CDlgQuestion* dialog(int kind, int peer_id) const;
    int open_count() const;

    // The save dialog of an accepted file (tests replace it); empty: cancelled, which refuses.
    std::function<QString(const QString& proposed)> choose_save_path;

private:
    CDlgQuestion* open(int kind, int peer_id, bool three_buttons, const QString& title,
                       const QString& text);
    void answer_relation(int kind, int contact_id, int answer);
    void answer_file(int peer_id, const std::string& offered, int answer);
    void offer_waited(int peer_id);

    session_runner m_session;
    QPointer<QWidget> m_window;
    std::map<std::pair<int, int>, QPointer<CDlgQuestion>> m_open;
    struct offer_state {
        std::string offered;
        QString name;
        QTimer* timer = nullptr;
    };
    std::map<int, offer_state> m_offers;
};

// The controller's questions, from the session thread, as non-modal dialogs of a session_questions
// (set before the session starts). Without one, a question is logged and left open for a later
// answer through the controller's entry points.
class qt_question_asker : public question_asker {
public:
    void set_questions(session_questions* questions) { m_questions = questions; }
    // A refusal or report: a notice through the message-box hook, never waiting.
    void show_text(const user_text& text) override;
    int ask_added_me(const contact_record& c, const user_text& text) override;
    int ask_removed_me(const contact_record& c, const user_text& text) override;
    int ask_read_offline(const user_text& text) override;
    int ask_file_offer(const contact_record& c, const user_text& text, const char* offered_name,
                       std::string* folder, std::string* save_as) override;

protected:
    // The words of a core text in the user's language (English for an id the windows lack).
    static QString words(const user_text& text);

private:
    bool post(const char* what, std::function<void(session_questions&)> ask);
    std::atomic<session_questions*> m_questions{nullptr};
};
