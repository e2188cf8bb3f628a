// parlo: the desktop messenger client.
#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <memory>

#include "platform/debug_log.h"
#include "ui/app/desktop_setup.h"
#include "ui/app/parlo_app.h"
#include "ui/common/texts.h"

int main(int argc, char** argv) {
    app_options options;
    std::string error;
    if (parse_app_args(argc, argv, &options, &error) != 0) {
        std::fprintf(stderr, "parlo: %s\n%s", error.c_str(), app_usage_text().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(app_usage_text().c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("parlo"));
    QApplication::setQuitOnLastWindowClosed(false);
    install_language(&app,
                     pick_language(QString::fromStdString(options.lang), QLocale::system().name()));
    apply_app_options(options);
    int code;
    {
        CParloApp parlo(options);
        install_desktop_windows(parlo);
        code = parlo.run();
        remove_desktop_windows();
    }
    close_debug_log();
    return code;
}
