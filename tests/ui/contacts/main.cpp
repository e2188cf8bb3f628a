// Runs every test class of the contact-window tests in one process.
#include <QApplication>
#include <QTest>

#include "tests.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failed = 0;
    for (auto& make : all_tests()) {
        std::unique_ptr<QObject> t = make();
        failed += QTest::qExec(t.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
