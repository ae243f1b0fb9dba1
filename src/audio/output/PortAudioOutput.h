#pragma once
// The output through PortAudio, where no sound server answers or a device of its own is chosen:
// bare ALSA (JACK has an output of its own, JackOutput.h). PortAudio's own thread runs the engine's
// callback; the engine's worker gives that thread its real-time priority once the first callback
// has said who it is.
//
// Threads: every function here on the engine's start-up or worker thread (listing: the
// user-interface thread at start-up); each starts PortAudio afresh (50 to 120 ms), so it sees the
// devices as they are now. The callback then runs on PortAudio's thread.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/output/OutputBackend.h"
#include "audio/output/OutputDevices.h"

// Opens and starts PortAudio's default output (or device, when given) at rate; nullptr (and why in
// error) when it cannot. beforeStart, when given, runs once the stream is open, just before its
// first callback can come: the caller stops its previous output there, so that one callback runs
// at a time.
std::unique_ptr<OutputBackend> openPortAudio(OutputSource& source, int rate, int framesPerBuffer,
                                             std::string& error,
                                             const std::function<void()>& beforeStart = {},
                                             const OutputDevice* device = nullptr);
// PortAudio's output devices but JACK's (its host APIs' names: "ALSA", ...), found without a word
// on stderr.
std::vector<OutputDevice> listPortAudioOutputs();
// The sample rate of PortAudio's default device, or 0 (and why in error) when there is none.
int portAudioDefaultRate(std::string& error);
// Whether the default output can be opened now: ALSA's default device, opened and closed at once.
// Costs about 2 ms when there is none, so the engine can look for a device that comes back twice a
// second without a full PortAudio start (50 to 120 ms, and messages on stderr).
bool defaultOutputPresent();
// The same for one of PortAudio's devices: an ALSA device opened and closed at once; a device of
// any other host API is taken to be there (the retries to open it find out).
bool portAudioDevicePresent(const OutputDevice& device);
