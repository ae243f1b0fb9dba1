#pragma once
// What the system tests' analysers share: a recording of the null sink's monitor (raw signed 16-bit
// little-endian stereo), and the level of one tone in a window of it.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

struct RawRecording {
    std::vector<float> left, right;
};

inline RawRecording readRawRecording(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    RawRecording r;
    const auto sample = [&](std::size_t at) {
        const auto lo = static_cast<std::uint8_t>(bytes[at]);
        const auto hi = static_cast<std::uint8_t>(bytes[at + 1]);
        return static_cast<float>(static_cast<std::int16_t>(lo | (hi << 8))) / 32768.0f;
    };
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        r.left.push_back(sample(i));
        r.right.push_back(sample(i + 2));
    }
    return r;
}

// One frequency in a Hann window: its amplitude and its phase against the recording's first
// sample (the phase of a steady tone is the same in every window of a recording that lost nothing).
inline std::complex<double> tonePhasor(const std::vector<float>& x, std::size_t start, std::size_t n, double freq,
                                       double rate) {
    double re = 0, im = 0, wsum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w =
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
        const double phase = 2 * std::numbers::pi * freq * static_cast<double>(start + i) / rate;
        re += w * x[start + i] * std::cos(phase);
        im -= w * x[start + i] * std::sin(phase);
        wsum += w;
    }
    return {2 * re / wsum, 2 * im / wsum};
}

// Level of one frequency in a Hann window, as the RMS in dB of a sine of that amplitude.
inline double toneLevel(const std::vector<float>& x, std::size_t start, std::size_t n, double freq,
                        double rate) {
    const double amplitude = std::abs(tonePhasor(x, start, n, freq, rate));
    return 20 * std::log10(std::max(amplitude / std::numbers::sqrt2, 1e-7));
}
