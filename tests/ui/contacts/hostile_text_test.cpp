// Text that came from the network (names, e-mail addresses, file names, notices, messages, chat
// lines) is shown exactly as it was sent in every window that shows it: never read as markup, so
// an <img> that points at /dev/zero cannot stall or abort the program.
#include <QDebug>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include "protocol/commands.h"
#include "protocol/tables.h"
#include "support.h"
#include "tests.h"
#include "ui/chat/chat_dlg.h"
#include "ui/common/event_popup.h"
#include "ui/common/message_boxes.h"
#include "ui/common/questions.h"
#include "ui/contacts/contact_tree.h"
#include "ui/dialogs/offline_dialogs.h"
#include "ui/dialogs/view_info_dialog.h"
#include "ui/skin/controls.h"
#include "ui/transfer/progress_window.h"

namespace {
const QString kImage = QStringLiteral("<img src=/dev/zero>");
const QString kBold = QStringLiteral("<b>x</b>");
const QString kEntity = QStringLiteral("&lt;");

// What a tool tip (its format guessed by Qt) puts on the screen.
QString as_shown(const QString& text) {
    if (!Qt::mightBeRichText(text)) return text;
    QTextDocument d;
    d.setHtml(text);
    return d.toPlainText();
}

// Every label of w showing hostile text shows it as plain text; returns how many do.
int check_labels(QWidget* w, const QString& hostile) {
    w->show();
    w->grab();  // lays out and paints every child
    int n = 0;
    for (QLabel* l : w->findChildren<QLabel*>()) {
        if (!l->text().contains(hostile)) continue;
        n++;
        if (l->textFormat() != Qt::PlainText) {
            qWarning() << "label shown as markup:" << l->text();
            return -1;
        }
    }
    return n;
}

// Raises the tool tip of a viewport at pos and returns it as shown.
QString tip_at(QWidget* viewport, QPoint pos) {
    QToolTip::hideText();
    QHelpEvent e(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
    QCoreApplication::sendEvent(viewport, &e);
    return QToolTip::isVisible() ? as_shown(QToolTip::text()) : QString();
}
}  // namespace

class HostileTextTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        close_notices();
        close_event_popups();
        QToolTip::hideText();
    }

    void contact_tree_tip_and_dialogs() {
        reset_tables();
        put_contact(31, 0, "<b>x</b>", PS_ONLINE, REL_ADDED, "<img", "src=/dev/zero>", "&lt;@x");
        CMyTreeCtrl tree;
        tree.show();
        tree.build_full();
        tree.expandAll();
        QTreeWidgetItem* item = tree.contact_item(31);
        QVERIFY(item);
        QString shown = tip_at(tree.viewport(), tree.visualItemRect(item).center());
        QVERIFY(shown.startsWith(QStringLiteral("<img src=/dev/zero>(&lt;@x) <b>x</b> (")));
        QCOMPARE(shown, tree.tooltip_for(item));

        contact_record c{};
        QVERIFY(contact_by_id(31, &c));
        CDlgViewInfo info(c);
        QCOMPARE(check_labels(&info, QStringLiteral("<img")), 1);
        QCOMPARE(check_labels(&info, kEntity), 1);
        CDlgShowOfflineMessage viewer([](session_task) {}, kImage, 31, kBold);
        viewer.show();
        QCOMPARE(viewer.findChild<QPlainTextEdit*>()->toPlainText(), kImage);
    }

    void file_progress_notices_popups_and_questions() {
        CDlgFileProgress w(31, false, kBold);
        w.set_file(kImage, 1000);
        w.finish(false, kBold);
        QCOMPARE(check_labels(&w, kImage), 1);
        QCOMPARE(check_labels(&w, kBold), 1);
        QCOMPARE(check_labels(show_notice(kImage), kImage), 1);
        QCOMPARE(check_labels(show_event_popup(kBold), kBold), 1);

        QString proposed;
        session_questions q([](session_task) {}, nullptr);
        q.choose_save_path = [&](const QString& p) {
            proposed = p;
            return QString();
        };
        q.ask_added_me(31, kImage, kImage + kEntity);
        QCOMPARE(check_labels(q.dialog(QUESTION_ADDED_ME, 31), kImage), 1);
        q.ask_file_offer(32, kBold, kImage, "x.txt");
        q.peer_status(32, PS_OFFLINE);  // the note names the sender
        QCOMPARE(check_labels(q.dialog(QUESTION_FILE_OFFER, 32), kBold), 1);
        // The save dialog would read the quoted part as the name to save under.
        q.ask_file_offer(33, kBold, kBold, "a\"../../x\"b.txt");
        q.dialog(QUESTION_FILE_OFFER, 33)->yes_button()->click();
        QCOMPARE(proposed, QStringLiteral("a'../../x'b.txt"));
    }

    void chat_lines() {
        CDlgPrivateChat w(31, kBold);
        w.show();
        w.transcript()->append_line(chat_line{kImage + " " + kEntity, {}}, QString());
        QCOMPARE(w.transcript()->toPlainText(), kImage + " " + kEntity);
        QVERIFY(!w.transcript()->grab().isNull());
    }
};

static register_test<HostileTextTest> reg;
#include "hostile_text_test.moc"
