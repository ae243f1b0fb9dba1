#pragma once
// The output devices an operator can choose from: the sound server's sinks (where a server answers)
// and PortAudio's output devices, the choice of one by name, and the options that ask for it
// (--list-devices, --device NAME, the environment's FADEWELL_DEVICE).
//
// Threads: the user-interface thread at start-up (listing starts PortAudio: 50 to 120 ms).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct OutputDevice {
    enum class Kind { ServerSink, PortAudio };
    Kind kind = Kind::PortAudio;
    std::string name;        // the sink's name, or PortAudio's device name: what --device matches first
    std::string description; // the sink's description; empty for PortAudio's devices
    std::string hostApi;     // "PulseAudio" for the server's sinks, PortAudio's host API otherwise
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

// Every output device there is now: the sound server's sinks, then PortAudio's output devices.
// Whatever the libraries print while they look is kept off the terminal.
std::vector<OutputDevice> listOutputDevices();

// What the command line and the environment ask of the output. The options used here are taken
// out of argv (argc lowered), so the rest of the command line reads as if they had not been there.
struct OutputRequest {
    bool list = false;               // --list-devices
    std::optional<std::string> name; // --device NAME or --device=NAME; else FADEWELL_DEVICE, if not empty
    std::string source;              // where the name came from: "--device" or "FADEWELL_DEVICE"
    std::string error;               // a usage error (--device without a name)
};
OutputRequest takeOutputOptions(int& argc, char** argv, const char* environmentDevice);

// The device the request names, listed and chosen; nullopt for the default output, also when the
// name matches no device or more than one (error then says why, and that the default plays).
std::optional<OutputDevice> requestedOutputDevice(const OutputRequest& request, std::string& error);
