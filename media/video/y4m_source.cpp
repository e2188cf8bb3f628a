// Frames from a YUV4MPEG2 file, played in a loop at 20 frames per second whatever its own rate,
// and scaled (nearest pixel) to the capture size. Chroma layouts 420 (any siting), 422, 444 and
// mono; 8-bit samples, converted with the full-range formulas the decoder uses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/video/paced_source.h"
#include "platform/debug_log.h"

namespace {

uint8_t clamp255(double v) {
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v);
}

class y4m_source : public paced_source {
public:
    explicit y4m_source(std::string path) : m_path(std::move(path)) {}
    ~y4m_source() override {
        stop();
        close();
    }

protected:
    int open(int, int) override {
        m_file = std::fopen(m_path.c_str(), "rb");
        if (!m_file) return -1;
        char header[256];
        if (!std::fgets(header, sizeof(header), m_file) ||
            std::strncmp(header, "YUV4MPEG2", 9) != 0)
            return fail("not a YUV4MPEG2 file");
        m_w = m_h = 0;
        m_cw = m_ch = 0;
        std::string chroma = "420";
        for (char* tok = std::strtok(header + 9, " \n"); tok; tok = std::strtok(nullptr, " \n")) {
            if (tok[0] == 'W') m_w = std::atoi(tok + 1);
            if (tok[0] == 'H') m_h = std::atoi(tok + 1);
            if (tok[0] == 'C') chroma = tok + 1;
        }
        if (m_w <= 0 || m_h <= 0 || m_w > 8192 || m_h > 8192) return fail("bad picture size");
        if (chroma.rfind("420", 0) == 0)
            m_cw = (m_w + 1) / 2, m_ch = (m_h + 1) / 2;
        else if (chroma == "422")
            m_cw = (m_w + 1) / 2, m_ch = m_h;
        else if (chroma == "444")
            m_cw = m_w, m_ch = m_h;
        else if (chroma == "mono")
            m_cw = m_ch = 0;
        else
            return fail("unsupported chroma layout");
        m_data_start = std::ftell(m_file);
        size_t luma = static_cast<size_t>(m_w) * m_h, plane = static_cast<size_t>(m_cw) * m_ch;
        m_planes.assign(luma + 2 * plane, 128);
        return 0;
    }
    void close() override {
        if (m_file) std::fclose(m_file);
        m_file = nullptr;
    }
    int produce(uint32_t, int width, int height, uint8_t* rgb) override {
        if (read_frame() != 0) {
            // At the end (or a damaged frame) start again from the first frame.
            std::fseek(m_file, m_data_start, SEEK_SET);
            if (read_frame() != 0) return -1;
        }
        const uint8_t* yp = m_planes.data();
        const uint8_t* up = yp + static_cast<size_t>(m_w) * m_h;
        const uint8_t* vp = up + static_cast<size_t>(m_cw) * m_ch;
        for (int y = 0; y < height; y++) {
            int sy = static_cast<int>(static_cast<long>(y) * m_h / height);
            for (int x = 0; x < width; x++) {
                int sx = static_cast<int>(static_cast<long>(x) * m_w / width);
                double Y = yp[static_cast<size_t>(sy) * m_w + sx], U = 0, V = 0;
                if (m_cw > 0) {
                    size_t c = static_cast<size_t>(sy * m_ch / m_h) * m_cw +
                               static_cast<size_t>(sx * m_cw / m_w);
                    U = up[c] - 128.0;
                    V = vp[c] - 128.0;
                }
                uint8_t* px = rgb + (static_cast<size_t>(y) * width + x) * 3;
                px[0] = clamp255(Y + 1.402 * V);
                px[1] = clamp255(Y - 0.34414 * U - 0.71417 * V);
                px[2] = clamp255(Y + 1.772 * U);
            }
        }
        return 0;
    }

private:
    int fail(const char* why) {
        log_line("y4m input %s: %s\r\n", m_path.c_str(), why);
        close();
        return -1;
    }
    int read_frame() {
        char line[256];
        if (!std::fgets(line, sizeof(line), m_file) || std::strncmp(line, "FRAME", 5) != 0)
            return -1;
        size_t want = m_planes.size();
        if (m_cw == 0) want = static_cast<size_t>(m_w) * m_h;
        return std::fread(m_planes.data(), 1, want, m_file) == want ? 0 : -1;
    }
    std::string m_path;
    FILE* m_file = nullptr;
    long m_data_start = 0;
    int m_w = 0, m_h = 0, m_cw = 0, m_ch = 0;
    std::vector<uint8_t> m_planes;
};

}  // namespace

std::unique_ptr<video_source> make_y4m_source(const std::string& path) {
    return std::make_unique<y4m_source>(path);
}
