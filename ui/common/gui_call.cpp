#include "ui/common/gui_call.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {
std::mutex g_mutex;
std::condition_variable g_done;
bool g_stopped = false;
// Counts the shutdowns: a call queued before one never opens its dialog afterwards.
unsigned g_generation = 0;

struct call_state {
    bool finished = false;
    int result = 0;
};
}  // namespace

bool on_gui_thread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void post_to_gui(QObject* context, std::function<void()> fn) {
    QObject* target = context ? context : QCoreApplication::instance();
    if (!target) return;
    unsigned generation;
    {
        std::lock_guard<std::mutex> lk(g_mutex);
        if (g_stopped) return;
        generation = g_generation;
    }
    QMetaObject::invokeMethod(
        target,
        [fn = std::move(fn), generation] {
            {
                std::lock_guard<std::mutex> lk(g_mutex);
                if (g_stopped || g_generation != generation) return;
            }
            fn();
        },
        Qt::QueuedConnection);
}

int run_on_gui(const std::function<int()>& fn, int fallback) {
    if (on_gui_thread()) return fn();
    auto* app = QCoreApplication::instance();
    if (!app) return fallback;
    auto state = std::make_shared<call_state>();
    unsigned generation;
    {
        std::lock_guard<std::mutex> lk(g_mutex);
        if (g_stopped) return fallback;
        generation = g_generation;
    }
    QMetaObject::invokeMethod(
        app,
        [fn, state, generation] {
            {
                std::lock_guard<std::mutex> lk(g_mutex);
                if (g_stopped || g_generation != generation) return;
            }
            // The function runs without the lock.
            int r = fn();
            std::lock_guard<std::mutex> lk(g_mutex);
            state->result = r;
            state->finished = true;
            g_done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lk(g_mutex);
    g_done.wait(lk, [&] { return state->finished || g_stopped || g_generation != generation; });
    return state->finished ? state->result : fallback;
}

void stop_gui_calls() {
    std::lock_guard<std::mutex> lk(g_mutex);
    g_stopped = true;
    g_generation++;
    g_done.notify_all();
}

void restart_gui_calls() {
    std::lock_guard<std::mutex> lk(g_mutex);
    g_stopped = false;
}

void run_beside_gui(const std::function<void()>& fn) {
    if (!QCoreApplication::instance()) {
        fn();
        return;
    }
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread t([&] {
        fn();
        done = true;
        // Queued to the loop's thread: if the loop has not started yet it quits as it starts.
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    if (!done.load()) loop.exec();
    // The thread has nothing left but the hand-over above; the loop outlives it.
    t.join();
}
