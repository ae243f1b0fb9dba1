#pragma once
// A sound card's mixer played in memory, for tests: the test says which devices, lines and controls
// exist, and every call is recorded with the request as it arrived, so a test can check exactly what
// reached the platform. Answers like a real platform: it checks requests as the ALSA backend does,
// writes only its own 148-byte description of a control, and refuses a write to control id 0.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/MixerApi.h"

namespace mixer {

class MemoryMixer final : public MixerApi {
public:
    struct Control {
        std::uint32_t controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        std::int32_t minimum = 0;
        std::int32_t maximum = 65535;
        std::uint32_t fdwControl = 0;
        std::uint32_t steps = 0;
        std::string shortName = "Volume";
        std::string name = "Volume";
        // The last value written, as it arrived.
        std::uint32_t value = 0;
    };

    enum class Operation { Open, GetLineInfo, GetLineControls, SetControlDetails };

    // One call as it reached the platform. Only the fields of the call's operation are meaningful.
    struct Call {
        Operation operation{};
        MMRESULT result = MMSYSERR_NOERROR;
        // Open: the handle given back (0 when the open failed); otherwise the handle passed.
        HMIXER handle = 0;
        std::uint32_t flags = 0;
        std::uint32_t deviceId = 0;           // Open
        std::uintptr_t callback = 0;          // Open
        std::uintptr_t instance = 0;          // Open
        MIXERLINEA line{};                    // GetLineInfo: the record as it arrived
        MIXERLINECONTROLSA lineControls{};    // GetLineControls: the request as it arrived
        bool blockWasZero = false;            // GetLineControls: the cbmxctrl bytes at pamxctrl were all 0
        std::vector<unsigned char> block{};   // GetLineControls: those bytes as the platform left them
        MIXERCONTROLDETAILS details{};        // SetControlDetails: the request as it arrived
        std::optional<std::uint32_t> value{}; // SetControlDetails: dwValue in the details block
    };

    // A card with `devices` mixer devices (ids 0 .. devices-1) and no lines; with 0, every open fails
    // with MMSYSERR_BADDEVICEID.
    explicit MemoryMixer(std::uint32_t devices = 1) : m_devices(devices) {}

    // Adds a line of the component type without controls; returns its dwLineID (ids of lines and
    // controls are distinct, so a line id passed as a control id is caught).
    std::uint32_t addLine(std::uint32_t componentType, std::string name = "Line");
    // Adds a control to the line; returns its dwControlID, counted from 1.
    std::uint32_t addControl(std::uint32_t lineId, Control control);
    // A line of the component type with one volume control; returns the control's id.
    std::uint32_t addVolumeLine(std::uint32_t componentType, std::int32_t minimum = 0,
                                std::int32_t maximum = 65535);

    // The next call of the operation returns result without looking at its arguments (it is still
    // recorded).
    void failNext(Operation operation, MMRESULT result) { m_failures[operation] = result; }

    // nullptr for an id no control has.
    const Control* control(std::uint32_t controlId) const;
    const std::vector<Call>& calls() const { return m_calls; }
    std::vector<Call> callsOf(Operation operation) const;

    MMRESULT mixerOpen(HMIXER* phmx, std::uint32_t uMxId, std::uintptr_t dwCallback,
                       std::uintptr_t dwInstance, std::uint32_t fdwOpen) override;
    MMRESULT mixerGetLineInfoA(HMIXER hmx, MIXERLINEA* pmxl, std::uint32_t fdwInfo) override;
    MMRESULT mixerGetLineControlsA(HMIXER hmx, MIXERLINECONTROLSA* pmxlc, std::uint32_t fdwControls) override;
    MMRESULT mixerSetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd,
                                    std::uint32_t fdwDetails) override;

private:
    struct Line {
        std::uint32_t lineId;
        std::uint32_t componentType;
        std::string name;
        std::vector<std::uint32_t> controlIds;
    };

    std::optional<MMRESULT> takeFailure(Operation operation);
    MMRESULT record(Call call);
    Line* findLine(std::uint32_t lineId);

    std::uint32_t m_devices;
    std::vector<Line> m_lines;
    std::map<std::uint32_t, Control> m_controls;
    std::vector<HMIXER> m_handles;
    std::map<Operation, MMRESULT> m_failures;
    std::vector<Call> m_calls;
};

} // namespace mixer
