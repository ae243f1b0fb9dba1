#pragma once
// The sound card's mixer through ALSA's simple mixer. Mixer device 0 is the control device named at
// construction ("default" for the program). Three lines are offered, each by its simple element:
// speakers = "Master", microphone = "Mic", line-in = "Line". A line exists when its element does; its
// one volume control (the element's playback volume, else its capture volume) has an id from 1 and
// is presented with the range 0..65535, scaled linearly onto the element's own range. A value above
// 65535 is refused (MMSYSERR_INVALPARAM) rather than clamped, so a typing slip never turns a level
// to full. Handles are small integers from 1, each owning one open ALSA mixer.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/MixerApi.h"

typedef struct _snd_mixer snd_mixer_t;
typedef struct _snd_mixer_elem snd_mixer_elem_t;

namespace mixer {

class AlsaMixer final : public MixerApi {
public:
    explicit AlsaMixer(std::string device = "default");
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    // Fails with MMSYSERR_BADDEVICEID for any device but 0, MMSYSERR_NODRIVER when the control device
    // cannot be opened (no sound server, no card); ALSA's own complaints are kept off stderr.
    MMRESULT mixerOpen(HMIXER* phmx, std::uint32_t uMxId, std::uintptr_t dwCallback,
                       std::uintptr_t dwInstance, std::uint32_t fdwOpen) override;
    MMRESULT mixerGetLineInfoA(HMIXER hmx, MIXERLINEA* pmxl, std::uint32_t fdwInfo) override;
    MMRESULT mixerGetLineControlsA(HMIXER hmx, MIXERLINECONTROLSA* pmxlc, std::uint32_t fdwControls) override;
    MMRESULT mixerSetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd,
                                    std::uint32_t fdwDetails) override;

private:
    struct MixerCloser {
        void operator()(snd_mixer_t* mixer) const;
    };
    using MixerHandle = std::unique_ptr<snd_mixer_t, MixerCloser>;

    snd_mixer_t* find(HMIXER hmx) const;

    std::string m_device;
    std::map<HMIXER, MixerHandle> m_mixers;
    HMIXER m_nextHandle = 1;
};

} // namespace mixer
