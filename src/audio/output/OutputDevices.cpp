#include "audio/output/OutputDevices.h"

#include <algorithm>
#include <cmath>

#include "audio/output/JackOutput.h"
#include "audio/output/PortAudioOutput.h"
#include "audio/output/PulseOutput.h"
#include "common/CommandLine.h"
#include "common/NameChoice.h"

DeviceChoice chooseOutputDevice(const std::vector<OutputDevice>& devices, const std::string& wanted) {
    if (wanted.empty())
        return {std::nullopt, "the device name is empty"};
    std::vector<NameChoice::Candidate> candidates;
    for (const OutputDevice& d : devices)
        candidates.push_back({d.name, d.description, d.hostApi});
    const NameChoice::Choice choice =
        NameChoice::choose(candidates, wanted, "output device", "output devices");
    if (!choice.index)
        return {std::nullopt, choice.error};
    return {devices[*choice.index], {}};
}

std::string formatDeviceList(const std::vector<OutputDevice>& devices) {
    if (devices.empty())
        return "No output devices found.\n";
    const std::string headings[] = {"NAME", "HOST API", "CHANNELS", "RATE", "DESCRIPTION"};
    std::vector<std::vector<std::string>> rows;
    for (const OutputDevice& d : devices)
        rows.push_back({d.name, d.hostApi, std::to_string(d.channels),
                        std::to_string(static_cast<long>(std::lround(d.defaultRate))), d.description});
    std::size_t widths[4] = {};
    for (std::size_t c = 0; c < 4; ++c) {
        widths[c] = headings[c].size();
        for (const auto& row : rows)
            widths[c] = std::max(widths[c], row[c].size());
    }
    const auto line = [&](const std::string* cells) {
        std::string text;
        for (std::size_t c = 0; c < 4; ++c)
            text += cells[c] + std::string(widths[c] - cells[c].size() + 2, ' ');
        text += cells[4];
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return text + "\n";
    };
    std::string text = line(headings);
    for (const auto& row : rows)
        text += line(row.data());
    return text;
}

std::vector<OutputDevice> listOutputDevices() {
    std::vector<OutputDevice> devices = listServerSinks();
    for (auto& more : {listJackOutputs(), listPortAudioOutputs()})
        devices.insert(devices.end(), more.begin(), more.end());
    return devices;
}

std::optional<OutputDevice> requestedOutputDevice(const CommandLine::OutputRequest& request,
                                                  std::string& error) {
    error.clear();
    if (!request.name)
        return std::nullopt;
    DeviceChoice choice = chooseOutputDevice(listOutputDevices(), *request.name);
    if (!choice.device)
        error = "Cannot play on the output device asked for by " + request.source + ": " + choice.error +
                ". Playing on the default output instead; \"fadewell --list-devices\" lists the devices.";
    return choice.device;
}

int defaultOutputRate(std::string& error) {
    if (const int rate = soundServerRate(error); rate > 0)
        return rate;
    return portAudioDefaultRate(error);
}

std::unique_ptr<OutputBackend> openDefaultOutput(OutputSource& source, int rate, int framesPerBuffer,
                                                 std::string& error,
                                                 const std::function<void()>& beforeStart) {
    std::string serverError;
    if (auto output = openSoundServer(source, rate, framesPerBuffer, serverError, beforeStart))
        return output;
    if (auto output = openPortAudio(source, rate, framesPerBuffer, error, beforeStart))
        return output;
    error = "sound server: " + serverError + "; device: " + error;
    return nullptr;
}

int outputRate(const OutputDevice* device, std::string& error) {
    if (device == nullptr)
        return defaultOutputRate(error);
    if (device->kind == OutputDevice::Kind::ServerSink)
        return soundServerRate(error, device->name);
    if (device->kind == OutputDevice::Kind::Jack)
        return jackRate(error);
    if (device->defaultRate < 1.0) {
        error = "the device \"" + device->name + "\" has no sample rate";
        return 0;
    }
    return static_cast<int>(device->defaultRate + 0.5);
}

bool outputPresent(const OutputDevice* device) {
    if (device == nullptr)
        return defaultOutputPresent();
    if (device->kind == OutputDevice::Kind::ServerSink) {
        std::string error;
        return soundServerRate(error, device->name) > 0;
    }
    if (device->kind == OutputDevice::Kind::Jack)
        return jackDevicePresent(*device);
    return portAudioDevicePresent(*device);
}

std::unique_ptr<OutputBackend> openOutput(const OutputDevice* device, OutputSource& source, int rate,
                                          int framesPerBuffer, std::string& error,
                                          const std::function<void()>& beforeStart) {
    if (device == nullptr)
        return openDefaultOutput(source, rate, framesPerBuffer, error, beforeStart);
    if (device->kind == OutputDevice::Kind::ServerSink)
        return openSoundServer(source, rate, framesPerBuffer, error, beforeStart, device->name);
    if (device->kind == OutputDevice::Kind::Jack)
        return openJack(source, rate, error, beforeStart, *device);
    return openPortAudio(source, rate, framesPerBuffer, error, beforeStart, device);
}
