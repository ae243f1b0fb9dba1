#include "platform/AlsaMixer.h"

#include <alsa/asoundlib.h>
#include <array>
#include <cstdarg>
#include <cstring>

#include "platform/MixerRequests.h"

namespace mixer {

namespace {

constexpr std::uint32_t kPresentedMaximum = 65535;

struct LineElement {
    std::uint32_t componentType;
    const char* element;
};

// Index + 1 is both the line's id and its volume control's id: ids from 1, so 0 names nothing.
constexpr std::array<LineElement, 3> kLines{{
    {MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Master"},
    {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic"},
    {MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line"},
}};

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA reports every failed open on stderr itself; the caller gets an error code instead.
class QuietAlsa {
public:
    QuietAlsa() { snd_lib_error_set_handler(&ignoreAlsaError); }
    ~QuietAlsa() { snd_lib_error_set_handler(nullptr); }
    QuietAlsa(const QuietAlsa&) = delete;
    QuietAlsa& operator=(const QuietAlsa&) = delete;
};

snd_mixer_elem_t* findElement(snd_mixer_t* mixer, const char* name) {
    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name);
    return snd_mixer_find_selem(mixer, id);
}

// The element's volume, playback preferred; what a line's one control drives.
struct Volume {
    bool playback = true;
    long minimum = 0;
    long maximum = 0;
};

bool volumeOf(snd_mixer_elem_t* element, Volume& volume) {
    if (element == nullptr)
        return false;
    if (snd_mixer_selem_has_playback_volume(element)) {
        volume.playback = true;
        return snd_mixer_selem_get_playback_volume_range(element, &volume.minimum, &volume.maximum) == 0 &&
               volume.maximum > volume.minimum;
    }
    if (snd_mixer_selem_has_capture_volume(element)) {
        volume.playback = false;
        return snd_mixer_selem_get_capture_volume_range(element, &volume.minimum, &volume.maximum) == 0 &&
               volume.maximum > volume.minimum;
    }
    return false;
}

std::uint32_t channelCount(snd_mixer_elem_t* element, bool playback) {
    if (playback ? snd_mixer_selem_is_playback_mono(element) : snd_mixer_selem_is_capture_mono(element))
        return 1;
    std::uint32_t count = 0;
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        const auto channel = static_cast<snd_mixer_selem_channel_id_t>(c);
        if (playback ? snd_mixer_selem_has_playback_channel(element, channel)
                     : snd_mixer_selem_has_capture_channel(element, channel))
            ++count;
    }
    return count == 0 ? 1 : count;
}

const LineElement* lineByComponent(std::uint32_t componentType) {
    for (const LineElement& line : kLines)
        if (line.componentType == componentType)
            return &line;
    return nullptr;
}

const LineElement* lineById(std::uint32_t id) {
    return id >= 1 && id <= kLines.size() ? &kLines[id - 1] : nullptr;
}

std::uint32_t idOf(const LineElement* line) {
    return static_cast<std::uint32_t>(line - kLines.data()) + 1;
}

} // namespace

void AlsaMixer::MixerCloser::operator()(snd_mixer_t* mixer) const {
    snd_mixer_close(mixer);
}

AlsaMixer::AlsaMixer(std::string device) : m_device(std::move(device)) {}

AlsaMixer::~AlsaMixer() = default;

snd_mixer_t* AlsaMixer::find(HMIXER hmx) const {
    const auto it = m_mixers.find(hmx);
    return it == m_mixers.end() ? nullptr : it->second.get();
}

MMRESULT AlsaMixer::mixerOpen(HMIXER* phmx, std::uint32_t uMxId, std::uintptr_t dwCallback, std::uintptr_t,
                              std::uint32_t fdwOpen) {
    if (phmx == nullptr)
        return MMSYSERR_INVALPARAM;
    if (uMxId != 0)
        return MMSYSERR_BADDEVICEID;
    if (fdwOpen != 0 || dwCallback != 0)
        return MMSYSERR_INVALFLAG;

    QuietAlsa quiet;
    snd_mixer_t* raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0)
        return MMSYSERR_NOMEM;
    MixerHandle mixer(raw);
    if (snd_mixer_attach(mixer.get(), m_device.c_str()) < 0 ||
        snd_mixer_selem_register(mixer.get(), nullptr, nullptr) < 0 || snd_mixer_load(mixer.get()) < 0)
        return MMSYSERR_NODRIVER;

    const HMIXER handle = m_nextHandle++;
    m_mixers.emplace(handle, std::move(mixer));
    *phmx = handle;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::mixerGetLineInfoA(HMIXER hmx, MIXERLINEA* pmxl, std::uint32_t fdwInfo) {
    snd_mixer_t* mixer = find(hmx);
    if (mixer == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT bad = checkLineInfoRequest(pmxl, fdwInfo))
        return bad;
    const LineElement* line = lineByComponent(pmxl->dwComponentType);
    snd_mixer_elem_t* element = line == nullptr ? nullptr : findElement(mixer, line->element);
    if (element == nullptr)
        return MIXERR_INVALLINE;

    Volume volume;
    const bool hasVolume = volumeOf(element, volume);
    describeLine(*pmxl, {.lineId = idOf(line),
                         .source = idOf(line) - 1,
                         .channels = hasVolume ? channelCount(element, volume.playback) : 1,
                         .controls = hasVolume ? 1u : 0u,
                         .shortName = line->element,
                         .name = line->element});
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::mixerGetLineControlsA(HMIXER hmx, MIXERLINECONTROLSA* pmxlc, std::uint32_t fdwControls) {
    snd_mixer_t* mixer = find(hmx);
    if (mixer == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT bad = checkLineControlsRequest(pmxlc, fdwControls))
        return bad;
    const LineElement* line = lineById(pmxlc->dwLineID);
    snd_mixer_elem_t* element = line == nullptr ? nullptr : findElement(mixer, line->element);
    if (element == nullptr)
        return MIXERR_INVALLINE;
    Volume volume;
    if (pmxlc->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME || !volumeOf(element, volume))
        return MIXERR_INVALCONTROL;

    const long steps = volume.maximum - volume.minimum;
    describeControl(pmxlc->pamxctrl, {.controlId = idOf(line),
                                      .controlType = MIXERCONTROL_CONTROLTYPE_VOLUME,
                                      .minimum = 0,
                                      .maximum = static_cast<std::int32_t>(kPresentedMaximum),
                                      .steps = static_cast<std::uint32_t>(steps),
                                      .shortName = "Volume",
                                      .name = std::string(line->element) + " Volume"});
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::mixerSetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd, std::uint32_t fdwDetails) {
    snd_mixer_t* mixer = find(hmx);
    if (mixer == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT bad = checkDetailsRequest(pmxcd, fdwDetails))
        return bad;
    const LineElement* line = lineById(pmxcd->dwControlID);
    snd_mixer_elem_t* element = line == nullptr ? nullptr : findElement(mixer, line->element);
    Volume volume;
    if (!volumeOf(element, volume))
        return MIXERR_INVALCONTROL;

    std::uint32_t value = 0;
    std::memcpy(&value, pmxcd->paDetails, sizeof value);
    if (value > kPresentedMaximum)
        return MMSYSERR_INVALPARAM;

    // Rounded to the nearest raw step, so 0 and 65535 land exactly on the element's ends.
    const long long span = volume.maximum - volume.minimum;
    const long raw = volume.minimum +
                     static_cast<long>((2 * value * span + kPresentedMaximum) / (2LL * kPresentedMaximum));
    QuietAlsa quiet;
    const int rc = volume.playback ? snd_mixer_selem_set_playback_volume_all(element, raw)
                                   : snd_mixer_selem_set_capture_volume_all(element, raw);
    return rc < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

} // namespace mixer
