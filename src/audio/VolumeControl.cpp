#include "audio/VolumeControl.h"

#include <array>
#include <cstring>

namespace VolumeControl {

using namespace mixer;

bool FindMixerControl(MixerApi& api, HMIXER hmixer, std::uint32_t componentType, std::uint32_t controlType,
                      MixerControlRecord& control) {
    MIXERLINEA line{};
    line.cbStruct = sizeof(MIXERLINEA);
    line.dwComponentType = componentType;
    if (api.mixerGetLineInfoA(hmixer, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR)
        return false;

    // The platform writes the control's description here, not into the caller's record: the caller's
    // record must keep its content when the lookup fails, and get the platform's zeros where the
    // platform writes nothing when it succeeds.
    std::array<unsigned char, sizeof(MixerControlRecord)> block{};

    MIXERLINECONTROLSA request{};
    request.cbStruct = sizeof(MIXERLINECONTROLSA);
    request.dwLineID = line.dwLineID;
    request.dwControlType = controlType;
    request.cControls = 1;
    request.cbmxctrl = sizeof(MixerControlRecord);
    request.pamxctrl = block.data();

    control.cbStruct = sizeof(MixerControlRecord);
    if (api.mixerGetLineControlsA(hmixer, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
        return false;

    std::memcpy(&control, block.data(), block.size());
    return true;
}

bool SetMixerControlValue(MixerApi& api, HMIXER hmixer, const MixerControlRecord& control,
                          std::int32_t value) {
    std::array<unsigned char, sizeof(MIXERCONTROLDETAILS_UNSIGNED)> block{};
    // The value's own bytes: -1 reaches the platform as 0xFFFFFFFF.
    std::memcpy(block.data(), &value, block.size());

    MIXERCONTROLDETAILS request{};
    request.cbStruct = sizeof(MIXERCONTROLDETAILS);
    request.dwControlID = control.dwControlID;
    request.cChannels = 1;
    request.cMultipleItems = 0;
    request.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    request.paDetails = block.data();

    return api.mixerSetControlDetails(hmixer, &request, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

} // namespace VolumeControl
