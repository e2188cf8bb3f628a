// The synthetic scene: flat vertical bands with sharp edges, a checkered square that glides
// across them and back, and a change of palette every 150 frames (a scene cut). A small moving
// object gives difference frames; the cut and the counter give key frames.
#include "media/video/paced_source.h"

namespace {

constexpr uint32_t kSceneFrames = 150;
constexpr uint8_t kPalette[6][3] = {{200, 40, 40},  {40, 160, 60},  {30, 60, 200},
                                    {230, 210, 60}, {120, 40, 160}, {240, 240, 240}};

class pattern_source : public paced_source {
protected:
    int open(int, int) override { return 0; }
    int produce(uint32_t n, int width, int height, uint8_t* rgb) override {
        draw_pattern_frame(n, width, height, rgb);
        return 0;
    }
};

}  // namespace

void draw_pattern_frame(uint32_t n, int width, int height, uint8_t* rgb) {
    const uint32_t scene = n / kSceneFrames;
    const int side_w = width / 4, side_h = height / 4;
    // The square moves 1/40 of the width per frame and bounces between the edges.
    const int travel = width - side_w;
    const int step = width / 40 > 0 ? width / 40 : 1;
    int pos = static_cast<int>((n % kSceneFrames) * static_cast<uint32_t>(step)) % (2 * travel);
    const int sx = pos < travel ? pos : 2 * travel - pos;
    const int sy = height / 2 - side_h / 2;
    const int cell = side_w / 4 > 0 ? side_w / 4 : 1;
    for (int y = 0; y < height; y++) {
        uint8_t* row = rgb + static_cast<size_t>(y) * width * 3;
        for (int x = 0; x < width; x++) {
            const uint8_t* c;
            if (x >= sx && x < sx + side_w && y >= sy && y < sy + side_h) {
                bool dark = (((x - sx) / cell) + ((y - sy) / cell)) % 2 != 0;
                c = kPalette[(scene + (dark ? 4 : 5)) % 6];
            } else {
                c = kPalette[(scene + static_cast<uint32_t>(x * 4 / width)) % 6];
            }
            row[x * 3] = c[0];
            row[x * 3 + 1] = c[1];
            row[x * 3 + 2] = c[2];
        }
    }
}

std::unique_ptr<video_source> make_pattern_source() {
    return std::make_unique<pattern_source>();
}
