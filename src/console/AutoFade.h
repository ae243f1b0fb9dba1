#pragma once
// The auto-fade's curve, from the tick to the sound, in one place. The tick, the step and the end
// are this type's; it holds no state and knows no widget, so it runs without a window.
//
//   tick   every kTickMilliseconds (10 ms) the console's fade timer, tmrFade, calls tick().
//   step   each tick adds 5 / seconds slider positions (seconds: the numeric value of the auto-fade
//          text) to every deck's position: its level. A deck that is not live moves to its level
//          rounded half to even, or to kQuietEnd (100) once the level passes it. The rounding drops
//          the fraction every tick, so the fade's length follows the rounded step: "4" moves one
//          position a tick (100 ticks, 1 s), "2" two from an even position (2.5 rounds to 2; 50
//          ticks), "1" five (20 ticks).
//          A text with no positive value ("", "0", "-4", letters) gives no step: nothing moves and
//          the fade goes on once a number is typed.
//   end    the tick on which the level of both decks that are not live reaches kQuietEnd ends the
//          fade. With no live deck nothing ends.
//   volume the console then applies all three sliders: a position becomes a player volume in
//          hundredths of a dB by Globals::PlayerVolumeFromSlider (src/common/Globals.cpp), the one
//          slider-to-dB rule: -41 x position, so the quiet end is -41 dB.
//   gain   DeckPlayer::setVolume (src/audio/DeckPlayer.cpp, gainOf) turns it into a gain,
//          10^(volume / 2000), -100 dB and below silent, and hands it to AudioEngine::setGain.
//   smooth in the engine's callback a deck that is heard reaches each new gain by a straight ramp
//          of kVolumeRampSeconds (5 ms, DeckPlayback::mix in src/audio/engine/DeckPlayback.cpp;
//          the ramp is DeckFades::aim and GainRamp, src/audio/engine/DeckFades.h), so a tick's
//          step never clicks.
#include <QString>
#include <array>
#include <cstddef>
#include <optional>

class AutoFade {
public:
    static constexpr int kTickMilliseconds = 10;
    static constexpr int kQuietEnd = 100;

    static constexpr std::size_t kDecks = 3;
    using Positions = std::array<int, kDecks>;

    struct Tick {
        std::array<double, kDecks> levels; // each deck's position + step, the live deck's too
        Positions positions;               // where each deck's slider goes; the live deck's stays
        bool ended;                        // the fade is over after this tick
    };

    // One tick of the fade over the decks' slider positions; live is the index of the live deck, if
    // any. Empty when the text gives no step: then nothing moves, not even the volumes are applied.
    static std::optional<Tick> tick(const Positions& positions, std::optional<std::size_t> live,
                                    const QString& secondsText);
};
