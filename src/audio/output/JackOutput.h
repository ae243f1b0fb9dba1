#pragma once
// The studio's JACK server, spoken to directly: the program is a client of its own in JACK's graph,
// named "Fadewell", with the ports out_left and out_right, connected to the chosen device's first
// two playback ports (the sound card's system:playback_1 and _2). JACK's thread runs the engine's
// callback at the server's rate and buffer size. The server that JACK_DEFAULT_SERVER names is
// used, the default one otherwise; none is ever started.
//
// Threads: every function here on the engine's start-up or worker thread (listing: the
// user-interface thread at start-up); each asks the server afresh, in a few milliseconds, or at
// once when none runs. The process callback then runs on JACK's thread, at the priority JACK gives
// its clients.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/output/OutputBackend.h"
#include "audio/output/OutputDevices.h"

// The JACK clients that take sound (those with audio input ports: "system" for the sound card),
// host API "JACK"; none when no JACK server runs. Nothing on stderr.
std::vector<OutputDevice> listJackOutputs();
// The JACK server's sample rate, or 0 (and why in error) when none runs.
int jackRate(std::string& error);
// Whether a JACK server runs and the device still has its playback ports.
bool jackDevicePresent(const OutputDevice& device);
// The client "Fadewell" opened, its ports connected to the device's and its callback started; nullptr
// (and why in error) when no server runs, it runs at another rate than the engine's, or the device
// has no playback ports. beforeStart as for openPortAudio (PortAudioOutput.h).
std::unique_ptr<OutputBackend> openJack(OutputSource& source, int rate, std::string& error,
                                        const std::function<void()>& beforeStart, const OutputDevice& device);
