// Checks a recording of the console's output (raw signed 16-bit little-endian stereo) against what
// an operator expects to hear in the end-to-end test: deck A's tone alone at its slider's level,
// then louder once its slider is raised, then deck B's tone starting while deck A fades out to the
// quiet end within about a second, deck B's tone without a gap to the end (an "auto" on an empty
// deck fades nothing), deck A silent after a new load and then back at its slider's first level
// (Auto Set Volume applies the level it shows), and no click anywhere.
//
//   fadewell_e2e_analyse RAW [name=value ...]
//
// Names and defaults: rate=44100 tone_a=440 tone_b=1000 file_level=-9.03 (RMS dBFS of the tone
// files), a_first_gain=-8.2 a_gain=0 b_gain=-8.2 (deck gains in dB that the sliders give),
// drop=41 (dB of the fade), fade_min=0.75 fade_max=1.5 (seconds). Prints a timeline and one line per
// check; the exit code is the number of failed checks.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "RawRecording.h"

namespace {

struct Levels {
    double hopSeconds;
    std::vector<double> a; // dB RMS of tone A per window
    std::vector<double> b; // dB RMS of tone B per window
    double time(std::size_t i) const { return static_cast<double>(i) * hopSeconds; }
    std::size_t index(double t) const { return static_cast<std::size_t>(std::max(0.0, t / hopSeconds)); }
};

Levels measure(const std::vector<float>& x, double rate, double windowSeconds, double hopSeconds, double fa,
               double fb) {
    Levels levels{hopSeconds, {}, {}};
    const auto n = static_cast<std::size_t>(windowSeconds * rate);
    const auto hop = static_cast<std::size_t>(hopSeconds * rate);
    for (std::size_t start = 0; start + n <= x.size(); start += hop) {
        levels.a.push_back(toneLevel(x, start, n, fa, rate));
        levels.b.push_back(toneLevel(x, start, n, fb, rate));
    }
    return levels;
}

double median(std::vector<double> v) {
    if (v.empty())
        return -200;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double medianOver(const std::vector<double>& v, std::size_t from, std::size_t to) {
    to = std::min(to, v.size());
    if (from >= to)
        return -200;
    return median(std::vector<double>(v.begin() + static_cast<std::ptrdiff_t>(from),
                                      v.begin() + static_cast<std::ptrdiff_t>(to)));
}

std::optional<std::size_t> firstAbove(const std::vector<double>& v, double threshold, std::size_t from = 0) {
    for (std::size_t i = from; i < v.size(); ++i)
        if (v[i] > threshold)
            return i;
    return std::nullopt;
}

std::optional<std::size_t> firstBelow(const std::vector<double>& v, double threshold, std::size_t from = 0) {
    for (std::size_t i = from; i < v.size(); ++i)
        if (v[i] < threshold)
            return i;
    return std::nullopt;
}

int failures = 0;
void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    if (!ok)
        ++failures;
}
std::string fmt(const char* format, double a, double b = 0, double c = 0) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return buffer;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: fadewell_e2e_analyse RAW [name=value ...]\n", stderr);
        return 100;
    }
    std::map<std::string, double> p = {
        {"rate", 44100}, {"tone_a", 440},  {"tone_b", 1000}, {"file_level", -9.03}, {"a_first_gain", -8.2},
        {"a_gain", 0},   {"b_gain", -8.2}, {"drop", 41},     {"fade_min", 0.75},    {"fade_max", 1.5}};
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        if (eq == std::string::npos || !p.contains(arg.substr(0, eq))) {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 100;
        }
        p[arg.substr(0, eq)] = std::stod(arg.substr(eq + 1));
    }
    const double rate = p["rate"];

    const RawRecording recording = readRawRecording(argv[1]);
    const std::vector<float>& left = recording.left;
    const std::vector<float>& right = recording.right;
    std::printf("recording: %.2f s\n", static_cast<double>(left.size()) / rate);
    if (left.size() < static_cast<std::size_t>(rate)) {
        check(false, "the recording holds at least a second of sound");
        return failures;
    }

    const double expectFirst = p["file_level"] + p["a_first_gain"];
    const double expectA = p["file_level"] + p["a_gain"];
    const double expectB = p["file_level"] + p["b_gain"];
    const double expectFaded = expectA - p["drop"];

    const Levels lv = measure(left, rate, 0.02, 0.01, p["tone_a"], p["tone_b"]);
    for (std::size_t i = 0; i < lv.a.size(); i += 10)
        std::printf("  t=%5.2f  A %6.1f dB  B %6.1f dB\n", lv.time(i), lv.a[i], lv.b[i]);

    // Deck A starts alone, at the level its slider gives.
    const auto aOn = firstAbove(lv.a, expectFirst - 20);
    check(aOn.has_value(), fmt("deck A's tone is heard (above %.1f dB)", expectFirst - 20));
    if (!aOn)
        return failures;
    const double aFirst = medianOver(lv.a, *aOn + lv.index(0.15), *aOn + lv.index(0.45));
    check(std::abs(aFirst - expectFirst) < 0.5,
          fmt("deck A first plays at %.2f dB, its slider gives %.2f dB", aFirst, expectFirst));
    const double bBefore = medianOver(lv.b, *aOn, *aOn + lv.index(0.45));
    check(bBefore < -70, fmt("deck B is silent while it stands loaded and halted (%.1f dB)", bBefore));

    // Deck B starts: the first window where its tone comes within 6 dB of its level.
    const auto bOn = firstAbove(lv.b, expectB - 6, *aOn);
    check(bOn.has_value(), fmt("deck B's tone is heard after its auto button (above %.1f dB)", expectB - 6));
    if (!bOn)
        return failures;
    std::printf("deck A starts at %.2f s, deck B at %.2f s\n", lv.time(*aOn), lv.time(*bOn));

    const double aBeforeFade =
        medianOver(lv.a, *bOn - std::min(*bOn, lv.index(0.4)), *bOn - std::min(*bOn, lv.index(0.05)));
    check(std::abs(aBeforeFade - expectA) < 0.5,
          fmt("after its slider is raised, deck A plays at %.2f dB, the slider gives %.2f dB", aBeforeFade,
              expectA));

    // The fade: deck A falls gradually by the fade's depth, in about one second.
    std::optional<std::size_t> aDown;
    for (std::size_t i = *bOn; i < lv.a.size(); ++i)
        if (lv.a[i] <= aBeforeFade - p["drop"] + 1.0) {
            aDown = i;
            break;
        }
    check(aDown.has_value(), fmt("deck A falls by %.0f dB after deck B starts", p["drop"]));
    if (aDown) {
        const double fadeSeconds = lv.time(*aDown) - lv.time(*bOn);
        check(fadeSeconds >= p["fade_min"] && fadeSeconds <= p["fade_max"],
              fmt("the fade takes %.2f s (expected %.2f to %.2f s)", fadeSeconds, p["fade_min"],
                  p["fade_max"]));
        // Halfway through, deck A stands about halfway down (a fade, not a cut).
        const std::size_t mid = (*bOn + *aDown) / 2;
        const double midDrop = aBeforeFade - medianOver(lv.a, mid - 2, mid + 3);
        check(midDrop > 0.25 * p["drop"] && midDrop < 0.75 * p["drop"],
              fmt("halfway through the fade deck A is %.1f dB down (a gradual fade of %.0f dB)", midDrop,
                  p["drop"]));
    }
    if (aDown) {
        const std::size_t quietFrom = *aDown + lv.index(0.2);
        const double aQuiet = medianOver(lv.a, quietFrom, quietFrom + lv.index(0.5));
        check(std::abs(aQuiet - expectFaded) < 1.5,
              fmt("after the fade deck A plays on at the quiet end: %.2f dB (expected %.2f dB)", aQuiet,
                  expectFaded));

        // Deck A is loaded again: the load halts it (silence), and once started it is heard at the
        // level Auto Set Volume moved its slider to, the level it first played at, not the quiet end.
        const auto aGone = firstBelow(lv.a, expectFaded - 15, quietFrom);
        check(aGone.has_value(), "deck A falls silent when it is loaded again");
        std::optional<std::size_t> aAgain;
        if (aGone)
            aAgain = firstAbove(lv.a, expectFirst - 6, *aGone);
        check(aAgain.has_value(),
              fmt("deck A, loaded again and started, is heard (above %.1f dB)", expectFirst - 6));
        if (aAgain) {
            const std::size_t again = aAgain.value();
            const double aReloaded = medianOver(lv.a, again + lv.index(0.15), again + lv.index(0.45));
            check(std::abs(aReloaded - expectFirst) < 0.5,
                  fmt("deck A, loaded again, plays at %.2f dB, its slider at 20 gives %.2f dB", aReloaded,
                      expectFirst));
            std::printf("deck A silent at %.2f s, heard again at %.2f s\n", lv.time(*aGone), lv.time(again));
        }
    }

    // Deck B's tone from its start to the end: steady at its slider's level, never a gap.
    const double bLevel = medianOver(lv.b, *bOn + lv.index(0.1), lv.b.size());
    check(std::abs(bLevel - expectB) < 0.5,
          fmt("deck B plays at %.2f dB, its slider gives %.2f dB", bLevel, expectB));
    const double bEnd = medianOver(lv.b, lv.b.size() - std::min(lv.b.size(), lv.index(0.5)), lv.b.size());
    check(std::abs(bEnd - expectB) < 0.5,
          fmt("deck B still plays at %.2f dB at the end, after \"auto\" on the empty deck C", bEnd));
    const Levels fine = measure(left, rate, 0.01, 0.005, p["tone_a"], p["tone_b"]);
    double bMin = 0, bMinAt = 0;
    const std::size_t fineFrom = fine.index(lv.time(*bOn) + 0.05);
    for (std::size_t i = fineFrom; i < fine.b.size(); ++i)
        if (i == fineFrom || fine.b[i] < bMin) {
            bMin = fine.b[i];
            bMinAt = fine.time(i);
        }
    check(bLevel - bMin < 1.5,
          fmt("no gap in deck B's tone: its lowest 10 ms level is %.2f dB, at %.2f s", bMin, bMinAt));

    // No click: no step from one sample to the next larger than the two tones at their loudest make.
    const double ampA = std::sqrt(2.0) * std::pow(10.0, std::max(aFirst, aBeforeFade) / 20);
    const double ampB = std::sqrt(2.0) * std::pow(10.0, bLevel / 20);
    const double bound =
        1.1 * 2 * std::numbers::pi * (ampA * p["tone_a"] + ampB * p["tone_b"]) / rate + 4.0 / 32768;
    double jump = 0, jumpAt = 0;
    for (const auto* channel : {&left, &right})
        for (std::size_t i = 1; i < channel->size(); ++i) {
            const double d = std::abs((*channel)[i] - (*channel)[i - 1]);
            if (d > jump) {
                jump = d;
                jumpAt = static_cast<double>(i) / rate;
            }
        }
    check(jump <= bound, fmt("no click: the largest sample step is %.4f at %.3f s (the tones allow %.4f)",
                             jump, jumpAt, bound));

    // Both channels carry the sound.
    const Levels rightLevels = measure(right, rate, 0.02, 0.01, p["tone_a"], p["tone_b"]);
    const double rightB = medianOver(rightLevels.b, *bOn + lv.index(0.1), rightLevels.b.size());
    check(std::abs(rightB - bLevel) < 0.5, fmt("the right channel carries deck B alike (%.2f dB)", rightB));

    std::printf("%d failed check(s)\n", failures);
    return failures;
}
