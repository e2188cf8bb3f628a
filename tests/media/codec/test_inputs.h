// Deterministic inputs for the codec tests and the benchmark: a natural-looking moving scene
// (gradients, texture, moving shapes with sharp edges, sensor noise) and voice-like sound.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testdata {

// Small fast generator (splitmix64) so that inputs are the same on every machine.
class rng {
public:
    explicit rng(uint64_t seed) : m_state(seed) {}
    uint64_t next();
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    int range(int lo, int hi) { return lo + below(hi - lo + 1); }

private:
    uint64_t m_state;
};

// Frame `frame` of the moving scene as width*height pixels of 3 bytes (red, green, blue).
std::vector<uint8_t> scene_rgb(int width, int height, int frame);

// n samples of 8-bit voice-like sound (pitched, modulated, with pauses), varying with seed.
std::vector<uint8_t> voice_samples(int n, uint64_t seed);

// Peak signal-to-noise ratio of two byte buffers, in dB (99 for identical buffers).
double psnr(const uint8_t* a, const uint8_t* b, size_t n);
// The same for centred planes of signed bytes.
double psnr(const int8_t* a, const int8_t* b, size_t n);

}  // namespace testdata
