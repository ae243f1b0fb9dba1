// Arbitrary text and numbers given to the helpers the console feeds with what the operator types
// or what a player reports: the numeric value of a text, StripPath, FormatTime; then the same text
// typed into the auto-fade box of a console (offline engine, fakes) and fade ticks run with it.
// The helpers may refuse only with their documented errors; a fade tick must never fail and must
// keep every deck slider within 0 to 100.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "audio/engine/AudioEngine.h"
#include "common/Errors.h"
#include "common/Globals.h"
#include "common/Numeric.h"
#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/frmConsole.h"
#include "support/AudioFixtures.h"
#include "support/ConsoleFakes.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeShell.h"
#include "support/MemoryMixer.h"
#include "support/MemoryRegistry.h"

namespace {

struct World {
    std::unique_ptr<AudioEngine> engine = AudioEngine::createOffline(48000, 256);
    mixer::MemoryMixer mixer;
    FakeFileDialog dialog;
    FakeMessageBoxes boxes;
    FakeClock clock;
    MemoryRegistry registry;
    FakeShell shell;
    fixtures::TempDir dir;
    std::unique_ptr<frmConsole> console;
};

World* g_world = nullptr;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "fault: %s\n", what);
    std::abort();
}

void checkFormatTime(float seconds) {
    try {
        const QString text = Globals::FormatTime(seconds);
        if (text.isEmpty() || !text.contains(u':') || !text.contains(u'.'))
            fault("FormatTime gave a text without its separators");
    } catch (const OverflowError&) {
        if (std::fabs(seconds) < 1966080.0f - 60.0f)
            fault("FormatTime overflowed on a value it can show");
    } catch (const FloatingPointError&) {
        if (std::isfinite(seconds))
            fault("FormatTime refused a finite value as not finite");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv); // lives for the whole run
    g_world = new World;
    World& w = *g_world;
    w.console = std::make_unique<frmConsole>(
        ConsolePlatform{*w.engine, w.mixer, w.dialog, w.boxes, w.clock, w.registry, w.shell, [] {}});
    w.console->tmrFade->stop();
    w.console->tmrRemainingTime->stop();
    w.console->tmrClock->stop();
    w.console->Form_Load();
    // Every deck holds a file, so that an "auto" click starts a fade.
    for (MediaPlayer* p : {w.console->MediaPlayerA, w.console->MediaPlayerB, w.console->MediaPlayerC})
        p->setFileName(QString::fromStdString(fixtures::writeTone(w.dir.file("tone.wav"), 30.0, 440.0)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    // Bytes 0-3: a float for FormatTime as a player could report it; byte 3 also picks the deck and
    // the start positions of the sliders; the rest is the text, as UTF-8 or UTF-16.
    float raw = 0;
    std::memcpy(&raw, data, sizeof raw);
    const std::uint8_t control = data[3];
    const auto* textBytes = reinterpret_cast<const char*>(data + 4);
    const auto textSize = static_cast<qsizetype>(size - 4);
    const QString text = (control & 1)
                             ? QString::fromUtf16(reinterpret_cast<const char16_t*>(textBytes), textSize / 2)
                             : QString::fromUtf8(textBytes, textSize);

    checkFormatTime(raw);
    const double value = Numeric::numericValue(text);
    if (!std::isfinite(value))
        fault("numericValue gave a value that is not finite");
    checkFormatTime(static_cast<float>(value));
    try {
        const QString name = Globals::StripPath(text);
        if (name.contains(Globals::kPathSeparator) || name.size() > text.size() || !text.endsWith(name))
            fault("StripPath gave more than the text after the last separator");
    } catch (const OverflowError&) {
        if (text.size() <= 32767)
            fault("StripPath overflowed on a path shorter than 32,768 characters");
    }

    // The text typed into the auto-fade box, a fade started on one deck, ticks run.
    frmConsole& c = *g_world->console;
    c.txtAutoFade->setText(text);
    ScrollSlider* sliders[] = {c.SliderA, c.SliderB, c.SliderC};
    for (int i = 0; i < 3; ++i)
        sliders[i]->setValue((control >> (2 + 2 * i)) % 4 * 33);
    switch ((control >> 1) % 3) {
    case 0:
        c.cmdAudoFadeA->click();
        break;
    case 1:
        c.cmdAudoFadeB->click();
        break;
    default:
        c.cmdAudoFadeC->click();
        break;
    }
    for (int tick = 0; tick < 25; ++tick) {
        try {
            c.tmrFade_Timer();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "fade tick with text of %d characters failed: %s\n", int(text.size()),
                         e.what());
            fault("a fade tick failed");
        }
        for (ScrollSlider* s : sliders)
            if (s->value() < 0 || s->value() > 100)
                fault("a fade tick moved a slider out of 0 to 100");
    }
    for (const auto& box : g_world->boxes.shown)
        if (!box.modal)
            fault("an uncaught failure was reported");
    return 0;
}
