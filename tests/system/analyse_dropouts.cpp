// Finds what a listener hears as a dropout in a recording of steady tones (raw signed 16-bit
// little-endian stereo): a stretch where a tone that should sound steadily falls away, a sample
// step that no sum of the tones at their levels can make (the wave cut and joined elsewhere), and
// a run of digital silence inside the sound.
//
//   fadewell_dropout_analyse RAW steady=F1[,F2...] max_step=S [rate=44100] [drop_db=6]
//                            [from=SECONDS] [to=SECONDS]
//
// steady: the tones to follow (Hz); each sounds at one level whenever it is up, and may start,
// stop and fade.
// max_step: the largest step between two samples that the tones can make (the sum of amplitude x
// 2 pi f / rate over every tone that may sound); a larger one is a jump. from and to limit the
// checks to part of the recording (seconds). Prints each event and one closing line
// "dropouts=N jumps=N silences=N"; the exit code is 1 when any was found, 2 on bad arguments.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "RawRecording.h"

namespace {

double median(std::vector<double> v) {
    if (v.empty())
        return -200;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(
            "usage: fadewell_dropout_analyse RAW steady=F1[,F2...] max_step=S [rate=44100] [drop_db=6] "
            "[from=S] [to=S]\n",
            stderr);
        return 2;
    }
    std::map<std::string, std::string> p = {{"rate", "44100"}, {"drop_db", "6"}, {"from", "0"},
                                            {"to", "1e9"},     {"steady", ""},   {"max_step", ""}};
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        if (eq == std::string::npos || !p.contains(arg.substr(0, eq))) {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
        p[arg.substr(0, eq)] = arg.substr(eq + 1);
    }
    std::vector<double> tones;
    {
        std::stringstream list(p["steady"]);
        for (std::string item; std::getline(list, item, ',');)
            tones.push_back(std::stod(item));
    }
    if (tones.empty() || p["max_step"].empty()) {
        std::fputs("steady= and max_step= are needed\n", stderr);
        return 2;
    }
    const double rate = std::stod(p["rate"]);
    const double maxStep = std::stod(p["max_step"]);
    const double dropDb = std::stod(p["drop_db"]);

    const RawRecording recording = readRawRecording(argv[1]);
    const std::vector<float>& left = recording.left;
    const std::vector<float>& right = recording.right;
    const auto from = static_cast<std::size_t>(std::max(0.0, std::stod(p["from"]) * rate));
    const auto to =
        std::min(left.size(), static_cast<std::size_t>(std::min(1e12, std::stod(p["to"]) * rate)));
    std::printf("recording: %.2f s, checked %.2f s to %.2f s\n", static_cast<double>(left.size()) / rate,
                static_cast<double>(from) / rate, static_cast<double>(to) / rate);
    if (to <= from + static_cast<std::size_t>(rate)) {
        std::puts("FAIL: less than a second of sound to check");
        return 1;
    }

    // Tones: 20 ms windows every 10 ms (fine enough in frequency to tell 440 Hz from 1 kHz). A
    // window more than drop_db under the tone's steady level, with the tone at that level (within
    // 3 dB) in the second before it and again within a second of it, is a dropout: the tone fell
    // away and came back. A fade, a stop or a start does not come back within the second.
    const auto window = static_cast<std::size_t>(0.02 * rate);
    const auto hop = static_cast<std::size_t>(0.01 * rate);
    const std::size_t horizon = 100; // windows: one second
    int dropouts = 0;
    std::size_t soundFrom = from, soundTo = to; // from where every tone has begun to where one ends
    for (double tone : tones) {
        std::vector<double> level;
        for (std::size_t start = from; start + window <= to; start += hop)
            level.push_back(toneLevel(left, start, window, tone, rate));
        const double loudest = *std::max_element(level.begin(), level.end());
        std::vector<double> loud;
        std::size_t firstLoud = level.size(), lastLoud = 0;
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (level[i] < loudest - 10)
                continue;
            loud.push_back(level[i]);
            firstLoud = std::min(firstLoud, i);
            lastLoud = i;
        }
        soundFrom = std::max(soundFrom, from + (firstLoud + 2) * hop);
        soundTo = std::min(soundTo, from + lastLoud * hop);
        const double steady = median(loud);
        std::printf("tone %.0f Hz: %.2f dB where it sounds (%.2f s of it)\n", tone, steady,
                    static_cast<double>(loud.size() * hop) / rate);
        const auto atLevel = [&](std::size_t i) { return level[i] >= steady - 3; };
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (level[i] >= steady - dropDb)
                continue;
            const std::size_t before = i > horizon ? i - horizon : 0;
            bool was = false, back = false;
            for (std::size_t j = before; j < i; ++j)
                was = was || atLevel(j);
            std::size_t end = i;
            while (end + 1 < level.size() && level[end + 1] < steady - dropDb)
                ++end;
            for (std::size_t j = end + 1; j < std::min(level.size(), i + horizon); ++j)
                back = back || atLevel(j);
            if (was && back) {
                const double lowest = *std::min_element(level.begin() + static_cast<std::ptrdiff_t>(i),
                                                        level.begin() + static_cast<std::ptrdiff_t>(end + 1));
                std::printf("dropout: %.0f Hz at %.3f s for %.0f ms, down to %.1f dB\n", tone,
                            static_cast<double>(from + i * hop) / rate,
                            static_cast<double>((end - i + 1) * hop) * 1000.0 / rate, lowest - steady);
                ++dropouts;
            }
            i = end;
        }
    }

    // Steps and digital silence, where the tones sound.
    int jumps = 0, silences = 0;
    std::size_t zeroRun = 0;
    for (std::size_t i = std::max<std::size_t>(soundFrom, 1); i < std::min(soundTo, to); ++i) {
        const double step = std::max(std::fabs(left[i] - left[i - 1]), std::fabs(right[i] - right[i - 1]));
        if (step > maxStep) {
            if (jumps < 20)
                std::printf("jump: %.4f at %.4f s (at most %.4f expected)\n", step,
                            static_cast<double>(i) / rate, maxStep);
            ++jumps;
        }
        zeroRun = left[i] == 0.0f && right[i] == 0.0f ? zeroRun + 1 : 0;
        if (zeroRun == 32) { // 0.7 ms of exact zeros: no sum of these tones holds still that long
            std::printf("silence: at %.4f s\n", static_cast<double>(i - 31) / rate);
            ++silences;
        }
    }
    std::printf("dropouts=%d jumps=%d silences=%d\n", dropouts, jumps, silences);
    return dropouts + jumps + silences > 0 ? 1 : 0;
}
