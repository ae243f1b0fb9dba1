#pragma once
// The output devices an operator can choose from: the sound server's sinks (where a server answers),
// the JACK server's playback clients (where one runs) and PortAudio's output devices, and the choice
// of one by the name the command line's output options ask for (common/CommandLine.h); then, for the
// output the engine opens, the choice between the sound server and PortAudio.
//
// Threads: listing and choosing by name, the user-interface thread at start-up (listing starts
// PortAudio: 50 to 120 ms); the output's rate, presence and opening, the engine's start-up or worker
// thread.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/output/OutputBackend.h"

namespace CommandLine {
struct OutputRequest;
}

struct OutputDevice {
    enum class Kind { ServerSink, Jack, PortAudio };
    Kind kind = Kind::PortAudio;
    std::string name;        // the sink's, JACK client's or PortAudio device's: what --device matches first
    std::string description; // the sink's description; empty for JACK's and PortAudio's devices
    std::string hostApi;     // "PulseAudio" for the server's sinks, "JACK", or PortAudio's host API
    int channels = 0;
    double defaultRate = 0.0;
};

// Which device a name means: the one whose name is exactly it (the server's sinks before
// PortAudio's devices when both have it); else the one whose name or description is it in any
// case; else the one whose name or description contains it in any case. No device, or more than
// one at the deciding step, is an error that says so and names the candidates.
struct DeviceChoice {
    std::optional<OutputDevice> device;
    std::string error; // why none was chosen
};
DeviceChoice chooseOutputDevice(const std::vector<OutputDevice>& devices, const std::string& wanted);

// The devices as --list-devices prints them: one a line under a heading, columns aligned.
std::string formatDeviceList(const std::vector<OutputDevice>& devices);

// Every output device there is now: the sound server's sinks, JACK's playback clients, then
// PortAudio's output devices.
// Whatever the libraries print while they look is kept off the terminal.
std::vector<OutputDevice> listOutputDevices();

// The device the request names, listed and chosen; nullopt for the default output, also when the
// name matches no device or more than one (error then says why, and that the default plays).
std::optional<OutputDevice> requestedOutputDevice(const CommandLine::OutputRequest& request,
                                                  std::string& error);

// The default output's sample rate (the sound server's default sink, or PortAudio's default
// device where no server answers), or 0 when there is no usable default output. Says why in error.
int defaultOutputRate(std::string& error);
// The sound server where one answers, otherwise PortAudio's default device. beforeStart as for
// openPortAudio (PortAudioOutput.h).
std::unique_ptr<OutputBackend> openDefaultOutput(OutputSource& source, int rate, int framesPerBuffer,
                                                 std::string& error,
                                                 const std::function<void()>& beforeStart = {});

// For a chosen device, or for the default output when device is nullptr: its rate, whether it can
// be opened now (for the default output: defaultOutputPresent, PortAudioOutput.h), and the output
// opened. A chosen device is only ever that device: when it cannot be had, nothing else is opened in
// its place.
int outputRate(const OutputDevice* device, std::string& error);
bool outputPresent(const OutputDevice* device);
std::unique_ptr<OutputBackend> openOutput(const OutputDevice* device, OutputSource& source, int rate,
                                          int framesPerBuffer, std::string& error,
                                          const std::function<void()>& beforeStart = {});
