#pragma once
// The sound card's mixer in the shape of the classic multimedia mixer functions: open a mixer, find
// a line by its component type, find a control of that line by type, write a control's value. The
// records are laid out byte for byte as those functions define them (single-byte text, little
// endian, packed); pointer fields are as wide as this build's pointers.
#include <cstddef>
#include <cstdint>

namespace mixer {

using HMIXER = std::uint32_t;
using MMRESULT = std::uint32_t;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MIXERR_INVALLINE = 1024;
inline constexpr MMRESULT MIXERR_INVALCONTROL = 1025;

inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr std::uint32_t MIXER_GETLINEINFOF_COMPONENTTYPE = 3;
inline constexpr std::uint32_t MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;
inline constexpr std::uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0;
inline constexpr std::uint32_t MIXERLINE_LINEF_ACTIVE = 1;

// How many bytes of a control's description the platform writes: its own record is 148 bytes, four
// fewer than the element size the program hands it.
inline constexpr std::uint32_t kPlatformControlSize = 148;

#pragma pack(push, 1)

// A mixer line. Only cbStruct, dwComponentType (in) and dwLineID (out) are used by the program.
struct MIXERLINEA {
    std::uint32_t cbStruct;
    std::uint32_t dwDestination;
    std::uint32_t dwSource;
    std::uint32_t dwLineID;
    std::uint32_t fdwLine;
    std::uint32_t dwUser;
    std::uint32_t dwComponentType;
    std::uint32_t cChannels;
    std::uint32_t cConnections;
    std::uint32_t cControls;
    char szShortName[16];
    char szName[64];
    struct {
        std::uint32_t dwType;
        std::uint32_t dwDeviceID;
        std::uint16_t wMid;
        std::uint16_t wPid;
        std::uint32_t vDriverVersion;
        char szPname[32];
    } Target;
};

// The description of one control, as the caller keeps it (152 bytes: the platform's 148-byte
// record with one more reserved word, the element size given to the platform).
struct MixerControlRecord {
    std::uint32_t cbStruct;
    std::uint32_t dwControlID;
    std::uint32_t dwControlType;
    std::uint32_t fdwControl;
    std::uint32_t cMultipleItems;
    char szShortName[16];
    char szName[64];
    std::int32_t lMinimum;
    std::int32_t lMaximum;
    std::uint32_t reserved[11]; // [4] is the platform's cSteps
};

// A request for the controls of one line (here: one control, by type).
struct MIXERLINECONTROLSA {
    std::uint32_t cbStruct;
    std::uint32_t dwLineID;
    std::uint32_t dwControlType; // shares its place with dwControlID
    std::uint32_t cControls;
    std::uint32_t cbmxctrl;
    void* pamxctrl;
};

// A request to write one control's value for all channels of its line.
struct MIXERCONTROLDETAILS {
    std::uint32_t cbStruct;
    std::uint32_t dwControlID;
    std::uint32_t cChannels;
    std::uint32_t cMultipleItems; // shares its place with hwndOwner
    std::uint32_t cbDetails;
    void* paDetails;
};

struct MIXERCONTROLDETAILS_UNSIGNED {
    std::uint32_t dwValue;
};

#pragma pack(pop)

static_assert(sizeof(MIXERLINEA) == 168);
static_assert(offsetof(MIXERLINEA, dwLineID) == 12);
static_assert(offsetof(MIXERLINEA, dwComponentType) == 24);
static_assert(sizeof(MixerControlRecord) == 152);
static_assert(offsetof(MixerControlRecord, dwControlID) == 4);
static_assert(offsetof(MixerControlRecord, szShortName) == 20);
static_assert(offsetof(MixerControlRecord, szName) == 36);
static_assert(offsetof(MixerControlRecord, lMinimum) == 100);
static_assert(offsetof(MixerControlRecord, lMaximum) == 104);
static_assert(offsetof(MixerControlRecord, reserved) == 108);
static_assert(offsetof(MIXERLINECONTROLSA, cbmxctrl) == 16);
static_assert(offsetof(MIXERLINECONTROLSA, pamxctrl) == 20);
static_assert(sizeof(MIXERLINECONTROLSA) == 20 + sizeof(void*));
static_assert(offsetof(MIXERCONTROLDETAILS, cbDetails) == 16);
static_assert(offsetof(MIXERCONTROLDETAILS, paDetails) == 20);
static_assert(sizeof(MIXERCONTROLDETAILS) == 20 + sizeof(void*));
static_assert(sizeof(MIXERCONTROLDETAILS_UNSIGNED) == 4);

// The mixer functions. Called on the user-interface thread only.
class MixerApi {
public:
    virtual ~MixerApi() = default;
    virtual MMRESULT mixerOpen(HMIXER* phmx, std::uint32_t uMxId, std::uintptr_t dwCallback,
                               std::uintptr_t dwInstance, std::uint32_t fdwOpen) = 0;
    virtual MMRESULT mixerGetLineInfoA(HMIXER hmx, MIXERLINEA* pmxl, std::uint32_t fdwInfo) = 0;
    virtual MMRESULT mixerGetLineControlsA(HMIXER hmx, MIXERLINECONTROLSA* pmxlc, std::uint32_t fdwControls) = 0;
    virtual MMRESULT mixerSetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd, std::uint32_t fdwDetails) = 0;
};

} // namespace mixer
