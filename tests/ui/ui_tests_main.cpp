// The desktop application's tests: one program runs every test class (offscreen platform).
#include <QApplication>
#include <QTest>
#include <filesystem>
#include <cstdlib>
#include <memory>

#include "platform/debug_log.h"
#include "platform/paths.h"
#include "tests/ui/ui_test_support.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char tmpl[] = "/tmp/parlo-ui-test-XXXXXX";
    const char* home = mkdtemp(tmpl);
    if (!home) return 1;
    set_home_dir(home);
    open_debug_log();
    QApplication app(argc, argv);
    int failed = 0;
    for (auto make : {make_skin_test, make_texts_test, make_popup_test, make_message_box_test,
                      make_main_window_test, make_stall_test, make_questions_test,
                      make_devices_dialog_test}) {
        std::unique_ptr<QObject> t(make());
        failed += QTest::qExec(t.get(), argc, argv);
    }
    close_debug_log();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return failed == 0 ? 0 : 1;
}
