// Cameras through libv4l2, which converts the camera's own pixel format to RGB24. The device is
// asked for W x H at 20 frames per second and streams into four mapped buffers; a thread waits
// for each filled buffer with a bounded poll (so stop() is seen within 200 ms) and hands it on.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "media/video/video_source.h"
#include "platform/debug_log.h"
#include "protocol/texts.h"

namespace {

constexpr int kBuffers = 4;

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do r = v4l2_ioctl(fd, request, arg);
    while (r == -1 && errno == EINTR);
    return r;
}

class v4l2_source : public video_source {
public:
    explicit v4l2_source(std::string device) : m_device(std::move(device)) {}
    ~v4l2_source() override { stop(); }

    int start(int width, int height, frame_sink sink) override {
        stop();
        std::string dev = m_device.empty() ? "/dev/video0" : m_device;
        m_fd = v4l2_open(dev.c_str(), O_RDWR | O_NONBLOCK);
        if (m_fd < 0) return -1;
        if (configure(width, height) != 0) {
            release();
            return -1;
        }
        m_sink = std::move(sink);
        m_stop = false;
        m_thread = std::thread([this] { run(); });
        return 0;
    }

    void stop() override {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        release();
    }

private:
    int configure(int width, int height) {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = static_cast<uint32_t>(width);
        fmt.fmt.pix.height = static_cast<uint32_t>(height);
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        if (xioctl(m_fd, VIDIOC_S_FMT, &fmt) != 0 ||
            fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_RGB24) {
            log_line("capSetVideoFormat failed\r\n");
            return -1;
        }
        m_width = static_cast<int>(fmt.fmt.pix.width);
        m_height = static_cast<int>(fmt.fmt.pix.height);
        m_stride = static_cast<int>(fmt.fmt.pix.bytesperline);
        if (m_stride < m_width * 3) m_stride = m_width * 3;
        m_want_w = width;
        m_want_h = height;
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = 1;
        parm.parm.capture.timeperframe.denominator = kCaptureFramesPerSecond;
        if (xioctl(m_fd, VIDIOC_S_PARM, &parm) != 0)
            log_line("Failed to set the capture parameters\r\n ");  // the camera's own rate stays
        v4l2_requestbuffers req{};
        req.count = kBuffers;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(m_fd, VIDIOC_REQBUFS, &req) != 0 || req.count < 2) return -1;
        for (uint32_t i = 0; i < req.count; i++) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            b.index = i;
            if (xioctl(m_fd, VIDIOC_QUERYBUF, &b) != 0) return -1;
            void* p =
                v4l2_mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, b.m.offset);
            if (p == MAP_FAILED) return -1;
            m_maps.push_back({p, b.length});
            if (xioctl(m_fd, VIDIOC_QBUF, &b) != 0) return -1;
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(m_fd, VIDIOC_STREAMON, &type) != 0) return -1;
        m_streaming = true;
        m_frame.assign(static_cast<size_t>(width) * height * 3, 0);
        return 0;
    }

    void run() {
        while (!m_stop.load()) {
            pollfd p{m_fd, POLLIN, 0};
            int r = poll(&p, 1, 200);
            if (r <= 0) continue;
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            if (xioctl(m_fd, VIDIOC_DQBUF, &b) != 0) {
                // An unplugged camera wakes the poll at once, for ever: it is done with.
                if (errno == EAGAIN && !(p.revents & (POLLERR | POLLHUP | POLLNVAL))) continue;
                log_line("camera stopped delivering frames: %s\r\n", std::strerror(errno));
                camera_lost();
                return;
            }
            if (b.index < m_maps.size())
                deliver(static_cast<const uint8_t*>(m_maps[b.index].first), b.bytesused);
            xioctl(m_fd, VIDIOC_QBUF, &b);
        }
    }

    // The driver may have chosen another size than asked: copy (nearest pixel) to the capture size.
    void deliver(const uint8_t* data, uint32_t used) {
        if (m_width == m_want_w && m_height == m_want_h && m_stride == m_width * 3) {
            m_sink(data, static_cast<int>(used));
            return;
        }
        if (used < static_cast<uint32_t>(m_stride) * static_cast<uint32_t>(m_height)) return;
        for (int y = 0; y < m_want_h; y++) {
            const uint8_t* src = data + static_cast<size_t>(y * m_height / m_want_h) * m_stride;
            uint8_t* dst = m_frame.data() + static_cast<size_t>(y) * m_want_w * 3;
            for (int x = 0; x < m_want_w; x++)
                std::memcpy(dst + x * 3, src + (x * m_width / m_want_w) * 3, 3);
        }
        m_sink(m_frame.data(), static_cast<int>(m_frame.size()));
    }

    // Video stops, the call goes on; the user hears of it once a run.
    static void camera_lost() {
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) show_user_text(make_text(TXT_CAMERA_LOST));
    }

    void release() {
        if (m_fd < 0) return;
        if (m_streaming) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(m_fd, VIDIOC_STREAMOFF, &type);
            m_streaming = false;
        }
        for (auto& m : m_maps) v4l2_munmap(m.first, m.second);
        m_maps.clear();
        v4l2_close(m_fd);
        m_fd = -1;
    }

    std::string m_device;
    int m_fd = -1;
    bool m_streaming = false;
    int m_width = 0, m_height = 0, m_stride = 0, m_want_w = 0, m_want_h = 0;
    std::vector<std::pair<void*, size_t>> m_maps;
    std::vector<uint8_t> m_frame;
    frame_sink m_sink;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<video_source> make_v4l2_source(const std::string& device) {
    return std::make_unique<v4l2_source>(device);
}

std::vector<camera_info> list_cameras(const std::string& dir) {
    std::vector<std::pair<int, std::string>> nodes;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const char* n = e->d_name;
            if (std::strncmp(n, "video", 5) != 0 || !n[5]) continue;
            char* end = nullptr;
            long number = std::strtol(n + 5, &end, 10);
            if (*end == 0) nodes.emplace_back(static_cast<int>(number), dir + "/" + n);
        }
        closedir(d);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<camera_info> cameras;
    for (const auto& node : nodes) {
        // The plain device, not the conversion library: only its name is asked.
        int fd = ::open(node.second.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        int r;
        do r = ioctl(fd, VIDIOC_QUERYCAP, &cap);
        while (r == -1 && errno == EINTR);
        ::close(fd);
        if (r != 0) continue;
        // A camera's second node carries metadata, not pictures.
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) continue;
        const char* card = reinterpret_cast<const char*>(cap.card);
        cameras.push_back({node.second, std::string(card, strnlen(card, sizeof(cap.card)))});
    }
    return cameras;
}

std::string camera_label(const camera_info& camera) {
    return camera.card.empty() ? camera.path : camera.path + " - " + camera.card;
}
