#include "platform/MixerRequests.h"

#include <algorithm>
#include <cstring>

namespace mixer {

namespace {

// Truncated to fit, always terminated.
template <std::size_t N> void copyName(char (&field)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

} // namespace

MMRESULT checkLineInfoRequest(const MIXERLINEA* line, std::uint32_t flags) {
    if (line == nullptr || line->cbStruct < sizeof(MIXERLINEA))
        return MMSYSERR_INVALPARAM;
    if (flags != MIXER_GETLINEINFOF_COMPONENTTYPE)
        return MMSYSERR_INVALFLAG;
    return MMSYSERR_NOERROR;
}

MMRESULT checkLineControlsRequest(const MIXERLINECONTROLSA* request, std::uint32_t flags) {
    if (request == nullptr || request->cbStruct < sizeof(MIXERLINECONTROLSA))
        return MMSYSERR_INVALPARAM;
    if (flags != MIXER_GETLINECONTROLSF_ONEBYTYPE)
        return MMSYSERR_INVALFLAG;
    if (request->cControls != 1 || request->cbmxctrl < kPlatformControlSize || request->pamxctrl == nullptr)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MMRESULT checkDetailsRequest(const MIXERCONTROLDETAILS* request, std::uint32_t flags) {
    if (request == nullptr || request->cbStruct < sizeof(MIXERCONTROLDETAILS))
        return MMSYSERR_INVALPARAM;
    if (flags != MIXER_SETCONTROLDETAILSF_VALUE)
        return MMSYSERR_INVALFLAG;
    if (request->dwControlID == 0)
        return MIXERR_INVALCONTROL;
    if (request->cChannels != 1 || request->cMultipleItems != 0 ||
        request->cbDetails < sizeof(MIXERCONTROLDETAILS_UNSIGNED) || request->paDetails == nullptr)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

void describeLine(MIXERLINEA& line, const LineDescription& description) {
    line.dwDestination = 0;
    line.dwSource = description.source;
    line.dwLineID = description.lineId;
    line.fdwLine = MIXERLINE_LINEF_ACTIVE;
    line.cChannels = description.channels;
    line.cConnections = 0;
    line.cControls = description.controls;
    copyName(line.szShortName, description.shortName);
    copyName(line.szName, description.name);
}

void describeControl(void* destination, const ControlDescription& description) {
    MixerControlRecord control{};
    control.cbStruct = kPlatformControlSize;
    control.dwControlID = description.controlId;
    control.dwControlType = description.controlType;
    control.fdwControl = description.fdwControl;
    copyName(control.szShortName, description.shortName);
    copyName(control.szName, description.name);
    control.lMinimum = description.minimum;
    control.lMaximum = description.maximum;
    control.reserved[4] = description.steps;
    std::memcpy(destination, &control, kPlatformControlSize);
}

} // namespace mixer
