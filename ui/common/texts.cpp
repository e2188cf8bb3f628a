#include "ui/common/texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <algorithm>

namespace {
struct text_entry {
    int id;
    const char* english;
};
// The translators install_language put in place (the GUI thread's, at start-up).
QTranslator* g_installed = nullptr;
QTranslator* g_installed_qt = nullptr;
constexpr text_entry kTexts[] = {
#include "ui/common/text_table.inc"
};
}  // namespace

const char* ui_table_english(int id) {
    for (const auto& t : kTexts)
        if (t.id == id) return t.english;
    return nullptr;
}

const char* ui_english(int id) {
    const char* core = text_english(id);
    if (core && core[0] != '\0') return core;
    return ui_table_english(id);
}

std::vector<int> ui_text_ids() {
    std::vector<int> ids = all_text_ids();
    for (const auto& t : kTexts)
        if (std::find(ids.begin(), ids.end(), t.id) == ids.end()) ids.push_back(t.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString ui_text(int id) {
    const char* english = ui_english(id);
    if (!english) return QString();
    QByteArray key = QByteArray::number(id);
    return QCoreApplication::translate("texts", english, key.constData());
}

QString fill_placeholders(const QString& pattern, const QStringList& args) {
    QString out;
    out.reserve(pattern.size() + 32);
    int next = 0;
    for (qsizetype i = 0; i < pattern.size(); i++) {
        QChar c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            QChar k = pattern[i + 1];
            if (k == '%') {
                out += '%';
                i++;
                continue;
            }
            if (k == 's' || k == 'd') {
                if (next < args.size()) out += args[next];
                next++;
                i++;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString ui_text(int id, const QStringList& args) {
    return fill_placeholders(ui_text(id), args);
}

QString ui_text(const user_text& text) {
    QStringList args;
    for (const auto& a : text.args) args << QString::fromUtf8(a.c_str());
    return ui_text(text.id, args);
}

QString pick_language(const QString& lang_flag, const QString& locale_name) {
    QString l = lang_flag.isEmpty() ? locale_name : lang_flag;
    return l.startsWith(QLatin1String("zh"), Qt::CaseInsensitive) ? QStringLiteral("zh")
                                                                  : QStringLiteral("en");
}

bool install_language(QCoreApplication* app, const QString& language) {
    // Ours, and Qt's own for its dialogs and standard menus (file and colour dialogs, the Copy /
    // Select All menu of an edit): the system's translations of qtbase, when installed.
    QTranslator*& installed = g_installed;
    QTranslator*& installed_qt = g_installed_qt;
    for (QTranslator** t : {&installed, &installed_qt})
        if (*t) {
            app->removeTranslator(*t);
            delete *t;
            *t = nullptr;
        }
    bool chinese = language == QLatin1String("zh");
    // Dates and numbers (the transcript's arrival times) follow the chosen language too.
    QLocale::setDefault(chinese ? QLocale(QLocale::Chinese, QLocale::China)
                                : QLocale(QLocale::English, QLocale::UnitedStates));
    if (chinese) {
        auto* qt = new QTranslator(app);
        if (qt->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            app->installTranslator(qt);
            installed_qt = qt;
        } else {
            delete qt;
        }
    }
    auto* t = new QTranslator(app);
    QString file = chinese ? QStringLiteral("parlo_zh_CN") : QStringLiteral("parlo_en");
    if (!t->load(file, QStringLiteral(":/i18n"))) {
        delete t;
        return false;
    }
    app->installTranslator(t);
    installed = t;
    return true;
}

bool qt_translation_installed() {
    return g_installed_qt != nullptr;
}

QString plain_tool_tip(const QString& text) {
    if (text.isEmpty()) return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString save_dialog_name(const QString& name) {
    QString s = name;
    s.replace(QLatin1Char('"'), QLatin1Char('\''));
    return s;
}
