// Every window and dialog in both languages: each label, button, check box and combo-box item
// has room for its text (a word-wrapped or elided label fits by construction).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextDocument>
#include <functional>
#include <memory>

#include "protocol/tables.h"
#include "ui/chat/chat_dlg.h"
#include "ui/chat/save_format_dlg.h"
#include "ui/common/about_dlg.h"
#include "ui/common/event_popup.h"
#include "ui/common/message_boxes.h"
#include "ui/common/questions.h"
#include "ui/common/texts.h"
#include "ui/dialogs/add_group_dialog.h"
#include "ui/dialogs/contact_search_dialog.h"
#include "ui/dialogs/offline_dialogs.h"
#include "ui/dialogs/registration_dialog.h"
#include "ui/dialogs/view_info_dialog.h"
#include "ui/main/main_dlg.h"
#include "ui/signin/login_dlg.h"
#include "ui/skin/controls.h"
#include "ui/transfer/progress_window.h"

namespace {
// The text as drawn: without the mnemonic marks, one line per line.
int text_width(const QFontMetrics& fm, QString text) {
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

QString describe(const QWidget* window, const QWidget* w, const QString& text, int need, int room) {
    return QStringLiteral("%1 / %2 \"%3\": needs %4 px, has %5")
        .arg(QString::fromLatin1(window->metaObject()->className()),
             QString::fromLatin1(w->metaObject()->className()), text)
        .arg(need)
        .arg(room);
}

// The texts of window's visible controls that do not fit their rectangles; checked counts the
// texts looked at.
QStringList overflows(QWidget* window, int* checked) {
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) continue;
        QFontMetrics fm(w->font());
        if (auto* label = qobject_cast<QLabel*>(w)) {
            QString text = label->text();
            if (text.isEmpty() || label->wordWrap()) continue;
            if (label->textFormat() == Qt::RichText ||
                (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
                QTextDocument doc;
                doc.setDefaultFont(label->font());
                doc.setHtml(text);
                text = doc.toPlainText();
            }
            int room = label->contentsRect().width() - 2 * label->margin() -
                       std::max(0, label->indent());
            int need = text_width(fm, text);
            ++*checked;
            if (need > room) out << describe(window, w, text, need, room);
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            QStyle* s = check->style();
            int room = check->width() - s->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check) -
                       s->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
            int need = text_width(fm, check->text());
            ++*checked;
            if (need > room) out << describe(window, w, check->text(), need, room);
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            // The skin's buttons draw their text centred on the whole button.
            int need = text_width(fm, button->text());
            ++*checked;
            if (need > button->width()) out << describe(window, w, button->text(), need, button->width());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox opt;
            opt.initFrom(combo);
            int room = combo->style()
                           ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo)
                           .width();
            for (int i = 0; i < combo->count(); i++) {
                int need = text_width(fm, combo->itemText(i));
                ++*checked;
                if (need > room) out << describe(window, w, combo->itemText(i), need, room);
            }
        }
    }
    return out;
}

contact_record sample_contact() {
    contact_record c{};
    c.contact_id = 5;
    std::snprintf(c.display_name, sizeof(c.display_name), "bob");
    std::snprintf(c.first_name, sizeof(c.first_name), "Bob");
    std::snprintf(c.last_name, sizeof(c.last_name), "Baker");
    std::snprintf(c.email, sizeof(c.email), "bob@example.com");
    c.presence = 1;
    return c;
}

class layout_test : public QObject {
    Q_OBJECT
private slots:
    void texts_fit_in_both_languages_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << QStringLiteral("en");
        QTest::newRow("zh") << QStringLiteral("zh");
    }

    void texts_fit_in_both_languages() {
        QFETCH(QString, language);
        QVERIFY(install_language(qApp, language));
        session_runner no_session = [](session_task) {};
        popup_slots places;
        contact_record bob = sample_contact();
        const std::vector<std::function<QWidget*()>> windows = {
            [] {
                auto* d = new CParloDlg;
                d->set_show_messages(false);
                return d;
            },
            [] { return new CDlgLogin; },
            [] { return new CAboutDlg; },
            [] { return new CDlgMessage(QStringLiteral("x"), CDlgMessage::MODE_OK); },
            [] { return new CDlgMessage(QStringLiteral("x"), CDlgMessage::MODE_OK_CANCEL); },
            [] { return new CDlgMessage(QStringLiteral("x"), CDlgMessage::MODE_YES_NO); },
            [] { return new CDlgYesNoCancel(QStringLiteral("x")); },
            [] { return new CDlgQuestion(0, 5, true); },
            [] { return new CDlgSaveFormat; },
            [] {
                auto* w = new CDlgPrivateChat(5, QStringLiteral("bob"));
                w->set_panel(true);
                return w;
            },
            [] { return new CDlgRegister; },
            [&] { return new CDlgAddContact(no_session); },
            [&] { return new CDlgAddContactConfirm(no_session); },
            [&] { return new CDlgAddGroup(no_session); },
            [&] { return new CDlgOfflineMessage(5, no_session); },
            [&] {
                return new CDlgShowOfflineMessage(no_session, QStringLiteral("hi"), 5,
                                                  QStringLiteral("Bob Baker(bob@example.com)"));
            },
            [&] { return new CDlgViewInfo(bob); },
            [] { return new CDlgFileProgress(5, true, QStringLiteral("a.txt")); },
            [] { return new CDlgFileProgress(5, false, QStringLiteral("a.txt")); },
            [&] { return new CDlgEvent(QStringLiteral("Knock from A B(a@b)"), &places, false); },
        };
        QStringList failures;
        int checked = 0;
        for (const auto& make : windows) {
            std::unique_ptr<QWidget> w(make());
            w->show();
            // The main window's links of both states, each against its own rectangle.
            if (auto* main = qobject_cast<CParloDlg*>(w.get()))
                for (int id : {CParloDlg::LINK_SIGN_IN, CParloDlg::LINK_SIGN_OUT,
                               CParloDlg::LINK_REGISTER, CParloDlg::LINK_STATUS,
                               CParloDlg::LINK_MENU, CParloDlg::LINK_FORGET})
                    main->link(id)->setVisible(true);
            QCoreApplication::processEvents();
            failures << overflows(w.get(), &checked);
        }
        qInfo("%s: %d texts checked", qPrintable(language), checked);
        // The country list alone has a hundred and more entries.
        QVERIFY2(checked > 150, qPrintable(QString::number(checked)));
        QVERIFY(install_language(qApp, QStringLiteral("en")));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    layout_test t;
    return QTest::qExec(&t, argc, argv);
}

#include "layout_test.moc"
