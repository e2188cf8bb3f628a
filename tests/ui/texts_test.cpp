// Texts: every id in both languages, placeholders filled without reading arguments as formats,
// the language choice.
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTranslator>
#include <memory>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/common/texts.h"

namespace {
class texts_test : public QObject {
    Q_OBJECT
private slots:
    // Whatever a test chose, the next one starts in English.
    void cleanup() { install_language(qApp, QStringLiteral("en")); }

    void every_id_in_both_languages() {
        std::vector<int> ids = ui_text_ids();
        // Every id of the core is here, and the translation sources carry the core's English
        // words (the key the translation is found by).
        for (int id : all_text_ids()) {
            QVERIFY2(ui_table_english(id), qPrintable(QString::number(id)));
            if (text_english(id)[0] != '\0')
                QVERIFY2(std::string(ui_table_english(id)) == text_english(id),
                         qPrintable(QString::number(id)));
        }
        QVERIFY(ui_english(101) && ui_english(103));
        QTranslator en, zh;
        QVERIFY(en.load(QStringLiteral("parlo_en"), QStringLiteral(":/i18n")));
        QVERIFY(zh.load(QStringLiteral("parlo_zh_CN"), QStringLiteral(":/i18n")));
        for (int id : ids) {
            QByteArray key = QByteArray::number(id);
            QString english = en.translate("texts", ui_english(id), key.constData());
            QString chinese = zh.translate("texts", ui_english(id), key.constData());
            QVERIFY2(english == QString::fromUtf8(ui_english(id)), qPrintable(key));
            QVERIFY2(!chinese.isEmpty() && chinese != english, qPrintable(key));
        }
        // Ids whose English words differ only in case keep their own entries.
        QVERIFY(QString::fromUtf8(ui_english(221)) != QString::fromUtf8(ui_english(223)));
    }

    void chinese_texts_through_the_application() {
        QVERIFY(install_language(qApp, QStringLiteral("zh")));
        QCOMPARE(ui_text(T_SIGN_IN), QString::fromUtf8("登陆"));
        QCOMPARE(ui_text(make_text(TXT_BECOME_ONLINE, {"bob", "b@x"})),
                 QString::fromUtf8("bob(b@x) 上线."));
        QVERIFY(install_language(qApp, QStringLiteral("en")));
        QCOMPARE(ui_text(T_SIGN_IN), QStringLiteral("Sign In"));
    }

    // Qt's own dialogs and menus speak the chosen language too, and so do dates.
    void qt_texts_follow_the_language() {
        QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (!QFile::exists(dir + QStringLiteral("/qtbase_zh_CN.qm")))
            QSKIP("qtbase_zh_CN.qm is not installed (Debian package qt6-translations-l10n)");
        // The edit's own menu: Undo, Redo, Cut, Copy, Paste, Delete, Select All.
        auto menu_texts = [] {
            QLineEdit edit;
            edit.setText(QStringLiteral("x"));
            std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
            QStringList texts;
            for (QAction* a : menu->actions())
                if (!a->isSeparator()) texts << a->text();
            return texts.join(QLatin1Char('|'));
        };
        QVERIFY(install_language(qApp, QStringLiteral("zh")));
        QVERIFY(qt_translation_installed());
        QVERIFY2(menu_texts().contains(QString::fromUtf8("复制")) &&
                     !menu_texts().contains(QLatin1String("Copy")),
                 qPrintable(menu_texts()));
        QCOMPARE(QLocale().language(), QLocale::Chinese);
        QVERIFY(install_language(qApp, QStringLiteral("en")));
        QVERIFY(!qt_translation_installed());
        QVERIFY2(menu_texts().contains(QLatin1String("&Copy")), qPrintable(menu_texts()));
        QCOMPARE(QLocale().language(), QLocale::English);
    }

    void placeholders_take_arguments_as_they_are() {
        QCOMPARE(fill_placeholders(QStringLiteral("%s(%s) become online."),
                                   {QStringLiteral("100%s"), QStringLiteral("%d%n")}),
                 QStringLiteral("100%s(%d%n) become online."));
        QCOMPARE(fill_placeholders(QStringLiteral("%s and %s, 5%%"), {QStringLiteral("a")}),
                 QStringLiteral("a and , 5%"));
    }

    void language_choice() {
        QCOMPARE(pick_language(QString(), QStringLiteral("zh_CN")), QStringLiteral("zh"));
        QCOMPARE(pick_language(QString(), QStringLiteral("zh_TW")), QStringLiteral("zh"));
        QCOMPARE(pick_language(QString(), QStringLiteral("de_DE")), QStringLiteral("en"));
        QCOMPARE(pick_language(QStringLiteral("en"), QStringLiteral("zh_CN")),
                 QStringLiteral("en"));
        QCOMPARE(pick_language(QStringLiteral("zh"), QStringLiteral("C")), QStringLiteral("zh"));
    }
};
}  // namespace

QObject* make_texts_test() {
    return new texts_test;
}

#include "texts_test.moc"
