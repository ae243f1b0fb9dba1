#pragma once
// The program's only path to the sound card's mixer: find a volume control of a line, write a value
// to it. Keeps nothing between calls; each call builds its records and frees its blocks.
#include <cstdint>

#include "platform/MixerApi.h"

namespace VolumeControl {

using mixer::MixerControlRecord;

// Looks up the control of controlType on the line of componentType and copies its description into
// control. False when the line is missing (control untouched) or the control is missing (only
// control.cbStruct changed, to 152).
bool FindMixerControl(mixer::MixerApi& api, mixer::HMIXER hmixer, std::uint32_t componentType,
                      std::uint32_t controlType, MixerControlRecord& control);

// Writes value, as its unsigned 32-bit form, to the control named by control.dwControlID.
// True when the platform accepted it.
bool SetMixerControlValue(mixer::MixerApi& api, mixer::HMIXER hmixer, const MixerControlRecord& control,
                          std::int32_t value);

} // namespace VolumeControl
