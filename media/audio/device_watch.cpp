#include "media/audio/device_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "media/audio/audio_service.h"
#include "platform/debug_log.h"

namespace {
// A card brings a burst of events (one per device node): they are told once, after this long
// without another.
constexpr int kSettleMs = 300;

class device_watch {
public:
    ~device_watch() {
        if (m_thread.joinable()) {
            uint64_t one = 1;
            if (write(m_wake, &one, sizeof(one)) < 0) log_line("device watch: wake failed\n");
            m_thread.join();
        }
        if (m_monitor) udev_monitor_unref(m_monitor);
        if (m_udev) udev_unref(m_udev);
        if (m_wake >= 0) close(m_wake);
    }
    int start() {
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_udev = udev_new();
        if (m_wake < 0 || !m_udev) return -1;
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (!m_monitor ||
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "sound", nullptr) < 0 ||
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "video4linux", nullptr) <
                0 ||
            udev_monitor_enable_receiving(m_monitor) < 0)
            return -1;
        try {
            m_thread = std::thread([this] { run(); });
        } catch (...) {
            return -1;
        }
        return 0;
    }

private:
    void run() {
        const int fd = udev_monitor_get_fd(m_monitor);
        bool pending = false;
        for (;;) {
            pollfd p[2] = {{m_wake, POLLIN, 0}, {fd, POLLIN, 0}};
            int r = poll(p, 2, pending ? kSettleMs : -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                log_line("device watch: poll failed\n");
                return;
            }
            if (p[0].revents) return;
            if (r == 0) {  // the burst has settled
                pending = false;
                audio_devices_changed();
                continue;
            }
            while (udev_device* d = udev_monitor_receive_device(m_monitor)) {
                const char* action = udev_device_get_action(d);
                const char* node = udev_device_get_devnode(d);
                log_line("device %s: %s %s\n", action ? action : "?", udev_device_get_subsystem(d),
                         node ? node : udev_device_get_sysname(d));
                udev_device_unref(d);
                pending = true;
            }
        }
    }
    int m_wake = -1;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::thread m_thread;
};
std::unique_ptr<device_watch> g_watch;  // the front end's thread only
}  // namespace

int start_device_watch() {
    if (g_watch) return 0;
    auto w = std::make_unique<device_watch>();
    if (w->start() != 0) {
        log_line("device watch: no udev events, devices are listed when asked\n");
        return -1;
    }
    g_watch = std::move(w);
    return 0;
}

void stop_device_watch() {
    g_watch.reset();
}
