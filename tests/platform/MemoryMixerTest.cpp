// The in-memory card answers as a platform does; the request checks it shares with the ALSA backend.
#include <array>
#include <cstring>
#include <gtest/gtest.h>

#include "support/MemoryMixer.h"

using namespace mixer;
using Op = MemoryMixer::Operation;

namespace {

TEST(MemoryMixer, OpenFailsWithoutTheDeviceAndLeavesTheHandle) {
    MemoryMixer none(0);
    HMIXER handle = 0;
    EXPECT_EQ(none.mixerOpen(&handle, 0, 0, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(handle, 0u);

    MemoryMixer one;
    EXPECT_EQ(one.mixerOpen(&handle, 1, 0, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(one.mixerOpen(&handle, 0, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_NE(handle, 0u) << "0 is what a failed open leaves; it must never name an open mixer";
}

TEST(MemoryMixer, ControlIdsStartAtOne) {
    MemoryMixer card;
    const std::uint32_t line = card.addLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(card.addControl(line, {}), 1u);
    EXPECT_EQ(card.addVolumeLine(MIXERLINE_COMPONENTTYPE_SRC_LINE), 2u);
    EXPECT_EQ(card.control(0), nullptr);
}

TEST(MemoryMixer, WritesOnlyItsOwnDescriptionIntoTheBlock) {
    MemoryMixer card;
    const std::uint32_t line = card.addLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    card.addControl(line, {});
    HMIXER handle = 0;
    ASSERT_EQ(card.mixerOpen(&handle, 0, 0, 0, 0), MMSYSERR_NOERROR);

    std::array<unsigned char, 152> block;
    block.fill(0xCD);
    MIXERLINECONTROLSA request{
        sizeof(MIXERLINECONTROLSA), line, MIXERCONTROL_CONTROLTYPE_VOLUME, 1, 152, block.data()};
    ASSERT_EQ(card.mixerGetLineControlsA(handle, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMSYSERR_NOERROR);
    EXPECT_EQ(block[0], kPlatformControlSize);
    for (std::size_t i = kPlatformControlSize; i < block.size(); ++i)
        EXPECT_EQ(block[i], 0xCD) << "byte " << i;
    EXPECT_FALSE(card.calls().back().blockWasZero);
}

// Every malformed request is refused before anything is read through its pointers or written.
TEST(MemoryMixer, RefusesMalformedRequests) {
    MemoryMixer card;
    const std::uint32_t id = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    HMIXER handle = 0;
    ASSERT_EQ(card.mixerOpen(&handle, 0, 0, 0, 0), MMSYSERR_NOERROR);
    HMIXER unused = 0;
    EXPECT_EQ(card.mixerOpen(&unused, 0, 0x1234, 0, 0x00030000), MMSYSERR_INVALFLAG)
        << "callbacks unsupported";

    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    EXPECT_EQ(card.mixerGetLineInfoA(handle, &line, 0x80000000u | MIXER_GETLINEINFOF_COMPONENTTYPE),
              MMSYSERR_INVALFLAG);
    EXPECT_EQ(card.mixerGetLineInfoA(handle + 1, &line, MIXER_GETLINEINFOF_COMPONENTTYPE),
              MMSYSERR_INVALHANDLE);
    EXPECT_EQ(card.mixerGetLineInfoA(handle, nullptr, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_INVALPARAM);
    line.cbStruct = 100;
    EXPECT_EQ(card.mixerGetLineInfoA(handle, &line, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_INVALPARAM);
    EXPECT_EQ(line.dwLineID, 0u);

    std::array<unsigned char, 152> block{};
    MIXERLINECONTROLSA small{
        sizeof(MIXERLINECONTROLSA), 0xFFFF0000u, MIXERCONTROL_CONTROLTYPE_VOLUME, 1, 100, block.data()};
    EXPECT_EQ(card.mixerGetLineControlsA(handle, &small, MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMSYSERR_INVALPARAM);
    MIXERLINECONTROLSA noBlock{
        sizeof(MIXERLINECONTROLSA), 0xFFFF0000u, MIXERCONTROL_CONTROLTYPE_VOLUME, 1, 152, nullptr};
    EXPECT_EQ(card.mixerGetLineControlsA(handle, &noBlock, MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(block, decltype(block){});

    std::uint32_t value = 7;
    MIXERCONTROLDETAILS write{sizeof(MIXERCONTROLDETAILS), id, 1, 0, 4, &value};
    EXPECT_EQ(card.mixerSetControlDetails(handle, &write, 1), MMSYSERR_INVALFLAG);
    MIXERCONTROLDETAILS toZero = write;
    toZero.dwControlID = 0;
    EXPECT_EQ(card.mixerSetControlDetails(handle, &toZero, 0), MIXERR_INVALCONTROL);
    MIXERCONTROLDETAILS toUnknown = write;
    toUnknown.dwControlID = 99;
    EXPECT_EQ(card.mixerSetControlDetails(handle, &toUnknown, 0), MIXERR_INVALCONTROL);
    MIXERCONTROLDETAILS shortDetails = write;
    shortDetails.cbDetails = 2;
    EXPECT_EQ(card.mixerSetControlDetails(handle, &shortDetails, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(card.control(id)->value, 0u);

    EXPECT_EQ(card.mixerSetControlDetails(handle, &write, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(card.control(id)->value, 7u);
}

} // namespace
