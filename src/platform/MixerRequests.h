#pragma once
// What every mixer backend checks in a request before it acts on it, and how it describes a line or a
// control back to the caller, so the backends answer malformed requests alike.
#include <cstdint>
#include <string_view>

#include "platform/MixerApi.h"

namespace mixer {

// Null records, records smaller than their own size, flags other than the one query each function
// supports, and a write naming control id 0 (no backend gives a control that id) are refused.
MMRESULT checkLineInfoRequest(const MIXERLINEA* line, std::uint32_t flags);
MMRESULT checkLineControlsRequest(const MIXERLINECONTROLSA* request, std::uint32_t flags);
MMRESULT checkDetailsRequest(const MIXERCONTROLDETAILS* request, std::uint32_t flags);

struct LineDescription {
    std::uint32_t lineId = 0;
    std::uint32_t source = 0;
    std::uint32_t channels = 1;
    std::uint32_t controls = 0;
    std::string_view shortName;
    std::string_view name;
};

struct ControlDescription {
    std::uint32_t controlId = 0;
    std::uint32_t controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    std::uint32_t fdwControl = 0;
    std::int32_t minimum = 0;
    std::int32_t maximum = 65535;
    std::uint32_t steps = 0;
    std::string_view shortName;
    std::string_view name;
};

// Fills the line's answer fields; the caller's cbStruct and dwComponentType stay.
void describeLine(MIXERLINEA& line, const LineDescription& description);

// Writes the platform's kPlatformControlSize-byte description at destination and nothing beyond it.
void describeControl(void* destination, const ControlDescription& description);

} // namespace mixer
