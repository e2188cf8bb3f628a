// The program's message boxes, skinned. GUI thread only:
//  show_message_text  "Message" with "OK", modal: returns 1 however it is closed;
//  ask_yes_no_text    "Message" with "YES"/"No", modal: 6 for YES, 7 for No, Escape or the close
//                     box;
//  ask_yes_no_cancel_text  "Yes"/"No"/"Cancel", modal: 6, 7, 2, and 0 when closed without a button;
//  show_notice        "Message" with "OK", non-modal: returns at once; the same text already open
//                     comes to the front instead of a second box.
// qt_message_boxes connects the core's message-box hook to them from any thread; only the GUI
// thread ever waits for the user.
#pragma once
#include <QList>
#include <QString>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "ui/skin/good_dlg.h"

class QLabel;
class CMyButton;

// Dialog "Message" in mode 0 (OK), 1 (OK/Cancel) or 4 (YES/No).
class CDlgMessage : public Cgood_dlg {
    Q_OBJECT
public:
    enum { MODE_OK = 0, MODE_OK_CANCEL = 1, MODE_YES_NO = 4 };
    CDlgMessage(const QString& text, int mode, QWidget* parent = nullptr);
    CMyButton* first_button() const { return m_first; }
    CMyButton* second_button() const { return m_second; }
    QString text() const { return m_text; }
    void reject() override;

private:
    int m_mode;
    QString m_text;
    CMyButton* m_first;
    CMyButton* m_second;
};

// The three-button question "Message".
class CDlgYesNoCancel : public Cgood_dlg {
    Q_OBJECT
public:
    explicit CDlgYesNoCancel(const QString& text, QWidget* parent = nullptr);
    CMyButton* yes_button() const { return m_yes; }
    CMyButton* no_button() const { return m_no; }
    CMyButton* cancel_button() const { return m_cancel; }
    void reject() override { done(0); }

private:
    CMyButton *m_yes, *m_no, *m_cancel;
};

int show_message_text(const QString& text, QWidget* parent = nullptr);
int ask_yes_no_text(const QString& text, QWidget* parent = nullptr);
int ask_yes_no_cancel_text(const QString& text, QWidget* parent = nullptr);
CDlgMessage* show_notice(const QString& text, QWidget* parent = nullptr);
// The notices show_notice opened that are still open (tests), and closing them all (shutdown).
QList<CDlgMessage*> open_notices();
void close_notices();

// The window a user's action runs in, while the action runs (GUI thread, scopes nest): what the
// core reports or asks meanwhile opens over that window instead of unparented (without a window
// manager an unparented box can open underneath and block it unseen), and work that reports
// later can take current() along.
class message_owner_scope {
public:
    explicit message_owner_scope(QWidget* window);
    ~message_owner_scope();
    message_owner_scope(const message_owner_scope&) = delete;
    message_owner_scope& operator=(const message_owner_scope&) = delete;
    // The innermost scope's window; null outside any scope.
    static QWidget* current();

private:
    QWidget* m_previous;
};

// A text the core sent by id, in the chosen language.
QString core_text(int id, const std::vector<std::string>& args);

// The hook the core calls. Texts with an id are shown in the chosen language; plain texts as they
// came. A message is a notice (posted to the GUI thread when it comes from
// another). A question on the GUI thread is a modal box (the user's own action asked it); from any
// other thread nothing waits: it gets its safe answer at once (No, or Cancel for the three-button
// one) with a log line, since a worker or a sound thread must never hang on the user.
struct qt_message_boxes : message_box_handler {
    void show_message(const char* text) override;
    int ask_yes_no(const char* text) override;
    int ask_yes_no_cancel(const char* text) override;
    void show_text(int id, const std::vector<std::string>& args, const char* english) override;
    int ask_text_yes_no(int id, const std::vector<std::string>& args, const char* english) override;
    int ask_text_yes_no_cancel(int id, const std::vector<std::string>& args,
                               const char* english) override;

private:
    void notice(const QString& text);
    int ask(const QString& text, const char* english, bool cancel);
};
