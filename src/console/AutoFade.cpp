#include "console/AutoFade.h"

#include "common/Numeric.h"

namespace {
constexpr double kStepForOneSecond = 5.0; // positions a tick when the text says 1
}

std::optional<AutoFade::Tick> AutoFade::tick(const Positions& positions, std::optional<std::size_t> live,
                                             const QString& secondsText) {
    const double seconds = Numeric::numericValue(secondsText);
    if (!(seconds > 0.0))
        return std::nullopt;
    const double step = kStepForOneSecond / seconds;

    Tick t{};
    bool othersDone = true;
    for (std::size_t i = 0; i < kDecks; ++i) {
        t.levels[i] = positions[i] + step;
        t.positions[i] = positions[i];
        if (i == live)
            continue;
        // An infinite step (a tiny seconds value) only ever meets the clamp, never the rounding.
        t.positions[i] =
            t.levels[i] > kQuietEnd ? kQuietEnd : static_cast<int>(Numeric::roundHalfEven(t.levels[i]));
        if (t.levels[i] < kQuietEnd)
            othersDone = false;
    }
    t.ended = live.has_value() && *live < kDecks && othersDone;
    return t;
}
