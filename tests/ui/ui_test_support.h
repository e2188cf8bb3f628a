// Helpers for the desktop application's tests (offscreen platform).
#pragma once
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

class QObject;

// Runs act on the modal dialog that open() shows, as soon as it is up; returns open()'s result.
template <typename Dialog = QDialog>
int answer_modal(const std::function<int()>& open, const std::function<void(Dialog*)>& act) {
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) return;
        poll.stop();
        act(d);
    });
    poll.start();
    return open();
}

// Test classes, each run by the test program's main.
QObject* make_skin_test();
QObject* make_texts_test();
QObject* make_popup_test();
QObject* make_message_box_test();
QObject* make_main_window_test();
QObject* make_stall_test();
QObject* make_questions_test();
QObject* make_devices_dialog_test();
