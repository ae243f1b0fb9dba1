#pragma once
// A console on an offline audio engine, an in-memory mixer and fakes for the dialog, the message
// boxes, the clock, the registry and the shell. Handlers are driven by calling them; time passes by
// rendering audio.
#include <QLabel>
#include <QString>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "audio/engine/AudioEngine.h"
#include "console/ConsoleTimer.h"
#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/frmConsole.h"
#include "support/AudioFixtures.h"
#include "support/ConsoleFakes.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeShell.h"
#include "support/MemoryMixer.h"
#include "support/MemoryRegistry.h"

class ConsoleTest : public ::testing::Test {
protected:
    static constexpr int kRate = 48000;

    ConsoleTest() : engine(AudioEngine::createOffline(kRate, 256)) {
        mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
        mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
        mixer.addVolumeLine(mixer::MIXERLINE_COMPONENTTYPE_SRC_LINE);
    }

    // Builds the console and runs its load handler, as the program's start does.
    frmConsole& start() {
        console = std::make_unique<frmConsole>(
            ConsolePlatform{*engine, mixer, dialog, boxes, clock, registry, shell, [this] { ++endCalls; }});
        // Ticks come from the test, not from the event loop.
        console->tmrFade->stop();
        console->tmrRemainingTime->stop();
        console->tmrClock->stop();
        console->Form_Load();
        return *console;
    }

    // A tone file in the test's folder.
    QString tone(const std::string& name, double seconds, double frequency = 440.0) {
        return QString::fromStdString(fixtures::writeTone(dir.file(name), seconds, frequency));
    }

    QString dirPath() const { return QString::fromStdString(dir.path()); }

    // The last value written to a control of the in-memory mixer.
    std::uint32_t mixerValue(std::uint32_t controlId) const {
        const auto* control = mixer.control(controlId);
        return control != nullptr ? control->value : 0xDEADBEEF;
    }

    static double rmsDb(const std::vector<float>& mix) { return fixtures::rmsDb(mix); }
    static float maxSampleStep(const std::vector<float>& mix) {
        return std::max(fixtures::maxStep(mix, 0), fixtures::maxStep(mix, 1));
    }

    // Loads a file into a deck through its load button's handler, the dialog answering with path.
    void load(char deck, const QString& path) {
        dialog.choices.push_back(path);
        switch (deck) {
        case 'A':
            console->cmdMediaA_Click();
            break;
        case 'B':
            console->cmdMediaB_Click();
            break;
        default:
            console->cmdMediaC_Click();
            break;
        }
    }

    // Loads a three-second tone named after the deck ("A.wav"), so that the deck holds a file.
    void loadTone(char deck) { load(deck, tone(std::string(1, deck) + ".wav", 3)); }

    // Lets time pass: renders the mix and delivers what the engine has to say.
    std::vector<float> advance(double seconds) {
        auto mix = engine->render(static_cast<std::size_t>(seconds * kRate));
        engine->processNotifications();
        return mix;
    }

    fixtures::TempDir dir;
    std::unique_ptr<AudioEngine> engine;
    mixer::MemoryMixer mixer;
    FakeFileDialog dialog;
    FakeMessageBoxes boxes;
    FakeClock clock;
    MemoryRegistry registry;
    FakeShell shell;
    int endCalls = 0;
    std::unique_ptr<frmConsole> console;
};
