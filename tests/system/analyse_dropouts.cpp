// Finds what a listener hears as a dropout in a recording of steady tones (raw signed 16-bit
// little-endian stereo): a stretch where a tone that should sound steadily falls away, a sample
// step that no sum of the tones at their levels can make (the wave cut and joined elsewhere), and
// a run of digital silence inside the sound; and whether the recording itself is whole.
//
//   fadewell_dropout_analyse RAW steady=F1[,F2...] max_step=S [reference=R1[,R2...]] [rate=44100]
//                            [drop_db=6] [from=SECONDS] [to=SECONDS]
//
// steady: the tones to follow (Hz); each sounds at one level whenever it is up, and may start,
// stop and fade.
// max_step: the largest step between two samples that the tones can make (the sum of amplitude x
// 2 pi f / rate over every tone that may sound, the reference's too); a larger one is a jump.
// reference: steady tones that another client plays into the same sink from before the checked
// stretch to after it: the recorder's witness (see recordingGaps). An event within a quarter of a
// second of a gap in the recording itself is the recorder's, not judged. from and to limit the
// checks to part of the recording (seconds). Prints each event; with a reference, the line
// "recording: whole", "recording: gaps at T1 T2 ... s (...)" or "recording: NOT whole (why)"; and
// one closing line "dropouts=N jumps=N silences=N" of the events judged. The exit code is 1 when
// any was found, 3 when the recording cannot be judged, 2 on bad arguments.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
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

std::vector<double> numbers(const std::string& list) {
    std::vector<double> out;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        out.push_back(std::stod(item));
    return out;
}

// Gaps in the recording itself, found in a reference tone: the server mixes it into the sink
// whatever the program does, so a recorder that lost samples shows it there. The tone's phase,
// taken against the recording's own sample count, stands still in a whole recording and moves for
// good where samples were lost, by 2 pi f x (samples lost) / rate (two tones of periods with no
// common multiple under a second, so that no loss hides as a whole number of periods of both). A
// reference that falls away and comes back says its player or the server failed there: a gap too
// (and so does digital silence, in main).
// Adds the gaps' times (seconds) to gaps; false when the reference does not sound from soundFrom to
// soundTo (the decks' sound), so that a gap there would go unseen.
// 100 ms windows (so that the decks' tones do not reach the reference's frequency) every 20 ms; the
// phase before a window and after it is the median over 0.3 s, so that a click or a dropout of the
// program, which disturbs the few windows that hold it, is not taken for a gap.
bool recordingGaps(const std::vector<float>& x, double tone, double rate, std::size_t from, std::size_t to,
                   std::size_t soundFrom, std::size_t soundTo, std::vector<double>& gaps) {
    const auto window = static_cast<std::size_t>(0.1 * rate);
    const auto hop = static_cast<std::size_t>(0.02 * rate);
    const std::size_t overlap = window / hop + 1, side = 15; // windows
    constexpr double kMostMove = 0.05;                       // radians: 2 to 4 samples lost
    std::vector<std::complex<double>> at;
    for (std::size_t start = from; start + window <= to; start += hop)
        at.push_back(tonePhasor(x, start, window, tone, rate));
    std::vector<double> level;
    for (const auto& z : at)
        level.push_back(20 * std::log10(std::max(std::abs(z) / std::numbers::sqrt2, 1e-7)));
    const double steady = level.empty() ? -200 : median(level);
    std::size_t first = 0, last = 0; // the stretch where the reference sounds
    while (first < level.size() && level[first] < steady - 3)
        ++first;
    for (std::size_t i = first; i < level.size(); ++i)
        last = level[i] >= steady - 3 ? i : last;
    std::printf("reference %.0f Hz: %.2f dB, %.2f s to %.2f s\n", tone, steady,
                static_cast<double>(from + first * hop) / rate, static_cast<double>(from + last * hop) / rate);
    const auto seconds = [&](std::size_t i) { return static_cast<double>(from + i * hop + window / 2) / rate; };
    for (std::size_t i = first; i <= last && i < level.size(); ++i)
        if (level[i] < steady - 6) {
            std::printf("recording gap: the %.0f Hz reference falls away at %.3f s\n", tone, seconds(i));
            gaps.push_back(seconds(i));
            while (i <= last && level[i] < steady - 3)
                ++i;
        }
    std::vector<double> moves(level.size(), 0.0); // the phase after window i less the phase before it
    for (std::size_t i = first + side; i + overlap + side <= last + 1; ++i) {
        const std::complex<double> centre =
            std::accumulate(at.begin() + static_cast<std::ptrdiff_t>(i - side),
                            at.begin() + static_cast<std::ptrdiff_t>(i), std::complex<double>{});
        std::vector<double> before, after;
        for (std::size_t j = i - side; j < i; ++j)
            before.push_back(std::arg(at[j] / centre));
        for (std::size_t j = i + overlap; j < i + overlap + side; ++j)
            after.push_back(std::arg(at[j] / centre));
        moves[i] = std::remainder(median(after) - median(before), 2 * std::numbers::pi);
    }
    double calm = 0; // the largest move that is no gap
    for (std::size_t i = 0; i < moves.size(); ++i) {
        if (std::fabs(moves[i]) <= kMostMove) {
            calm = std::max(calm, std::fabs(moves[i]));
            continue;
        }
        std::size_t worst = i;
        for (std::size_t j = i; j < std::min(i + overlap + side, moves.size()); ++j)
            worst = std::fabs(moves[j]) > std::fabs(moves[worst]) ? j : worst;
        const double move = moves[worst];
        const double lost = std::fmod(move + 2 * std::numbers::pi, 2 * std::numbers::pi) / (2 * std::numbers::pi);
        std::printf("recording gap: the %.0f Hz reference moves by %.2f rad at %.3f s (%.2f ms lost, give or "
                    "take whole periods of %.2f ms)\n",
                    tone, move, seconds(worst + overlap / 2), lost * 1000 / tone, 1000 / tone);
        gaps.push_back(seconds(worst + overlap / 2));
        i = worst + overlap + side;
    }
    std::printf("reference %.0f Hz: its phase moves by at most %.3f rad elsewhere (%.2f is a gap)\n", tone, calm,
                kMostMove);
    return from + first * hop <= soundFrom + window && from + last * hop + window >= soundTo;
}

struct Event {
    double at; // seconds
    std::string what;
    int* count;
};

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
                                            {"to", "1e9"},     {"steady", ""},   {"max_step", ""}, {"reference", ""}};
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        if (eq == std::string::npos || !p.contains(arg.substr(0, eq))) {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
        p[arg.substr(0, eq)] = arg.substr(eq + 1);
    }
    const std::vector<double> tones = numbers(p["steady"]);
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
    int dropouts = 0, jumps = 0, silences = 0;
    std::vector<Event> events;
    char text[200];
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
                const double at = static_cast<double>(from + i * hop) / rate;
                std::snprintf(text, sizeof text, "dropout: %.0f Hz at %.3f s for %.0f ms, down to %.1f dB", tone, at,
                              static_cast<double>((end - i + 1) * hop) * 1000.0 / rate, lowest - steady);
                events.push_back({at, text, &dropouts});
            }
            i = end;
        }
    }

    // Steps and digital silence, where the tones sound.
    std::size_t zeroRun = 0;
    for (std::size_t i = std::max<std::size_t>(soundFrom, 1); i < std::min(soundTo, to); ++i) {
        const double step = std::max(std::fabs(left[i] - left[i - 1]), std::fabs(right[i] - right[i - 1]));
        if (step > maxStep) {
            std::snprintf(text, sizeof text, "jump: %.4f at %.4f s (at most %.4f expected)", step,
                          static_cast<double>(i) / rate, maxStep);
            events.push_back({static_cast<double>(i) / rate, text, &jumps});
        }
        zeroRun = left[i] == 0.0f && right[i] == 0.0f ? zeroRun + 1 : 0;
        if (zeroRun == 32) { // 0.7 ms of exact zeros: no sum of these tones holds still that long
            std::snprintf(text, sizeof text, "silence: at %.4f s", static_cast<double>(i - 31) / rate);
            events.push_back({static_cast<double>(i - 31) / rate, text, &silences});
        }
    }

    // The recording's own gaps: what happened there is not judged. A recording with more than a gap
    // in ten seconds, or whose reference does not last, is not judged at all.
    std::vector<double> gaps;
    bool covered = true;
    for (double tone : numbers(p["reference"]))
        covered = recordingGaps(left, tone, rate, from, to, soundFrom, soundTo, gaps) && covered;
    // Digital silence where the reference sounds: the whole mix was missing, which the program
    // cannot make; the server's sink or the recorder left it out.
    for (const Event& e : events)
        if (!p["reference"].empty() && e.count == &silences) {
            std::printf("recording gap: digital silence at %.3f s, the reference gone too\n", e.at);
            gaps.push_back(e.at);
        }
    std::sort(gaps.begin(), gaps.end());
    const auto atGap = [&](double t) {
        return std::any_of(gaps.begin(), gaps.end(), [&](double g) { return std::fabs(t - g) <= 0.25; });
    };
    int shown = 0, excused = 0;
    for (const Event& e : events) {
        if (atGap(e.at)) {
            ++excused;
            continue;
        }
        if (++shown <= 40)
            std::printf("%s\n", e.what.c_str());
        ++*e.count;
    }
    std::size_t places = 0; // gaps half a second apart or more: one loss shows in both tones
    for (std::size_t i = 0; i < gaps.size(); ++i)
        places += i == 0 || gaps[i] - gaps[i - 1] > 0.5 ? 1 : 0;
    const bool judged = covered && static_cast<double>(places) <= static_cast<double>(to - from) / rate / 10;
    if (!p["reference"].empty()) {
        std::printf("recording: ");
        if (!covered)
            std::printf("NOT whole (its reference does not sound as long as the decks)\n");
        else if (!judged)
            std::printf("NOT whole (gaps at %zu places)\n", places);
        else if (gaps.empty())
            std::printf("whole\n");
        else {
            std::printf("gaps at");
            for (double g : gaps)
                std::printf(" %.2f", g);
            std::printf(" s (%d events there not judged)\n", excused);
        }
    }
    std::printf("dropouts=%d jumps=%d silences=%d\n", dropouts, jumps, silences);
    return !judged ? 3 : dropouts + jumps + silences > 0 ? 1 : 0;
}
