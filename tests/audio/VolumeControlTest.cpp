// The mixer wrapper against a sound card played in memory: what reaches the platform, and what the
// caller's record holds afterwards.
#include <array>
#include <cstring>
#include <gtest/gtest.h>

#include "audio/VolumeControl.h"
#include "support/MemoryMixer.h"

using namespace mixer;
using Op = MemoryMixer::Operation;

namespace {

MixerControlRecord patterned(unsigned char byte) {
    MixerControlRecord record;
    std::memset(&record, byte, sizeof record);
    return record;
}

std::array<unsigned char, sizeof(MixerControlRecord)> bytesOf(const MixerControlRecord& record) {
    std::array<unsigned char, sizeof(MixerControlRecord)> bytes;
    std::memcpy(bytes.data(), &record, bytes.size());
    return bytes;
}

class VolumeControlTest : public ::testing::Test {
protected:
    HMIXER open() {
        HMIXER handle = 0;
        EXPECT_EQ(card.mixerOpen(&handle, 0, 0, 0, 0), MMSYSERR_NOERROR);
        return handle;
    }

    MemoryMixer card;
};

TEST_F(VolumeControlTest, FoundControlIsThePlatformsBlockByteForByte) {
    card.addVolumeLine(MIXERLINE_COMPONENTTYPE_SRC_LINE);
    const std::uint32_t lineId = card.addLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers");
    const std::uint32_t controlId = card.addControl(
        lineId,
        {.minimum = -10, .maximum = 900, .fdwControl = 1, .steps = 91, .shortName = "Vol", .name = "Master"});
    open();
    const HMIXER handle = open(); // a second handle, so a stale or made-up one would show

    MixerControlRecord record = patterned(0xAB);
    ASSERT_TRUE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, record));

    const auto controls = card.callsOf(Op::GetLineControls);
    ASSERT_EQ(controls.size(), 1u);
    ASSERT_EQ(controls[0].block.size(), sizeof(MixerControlRecord));
    EXPECT_TRUE(std::equal(controls[0].block.begin(), controls[0].block.end(), bytesOf(record).begin()));
    // The platform's own size and data, and the zeros of the fresh block where it wrote nothing.
    EXPECT_EQ(record.cbStruct, kPlatformControlSize);
    EXPECT_EQ(record.dwControlID, controlId);
    EXPECT_EQ(record.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(record.fdwControl, 1u);
    EXPECT_STREQ(record.szShortName, "Vol");
    EXPECT_STREQ(record.szName, "Master");
    EXPECT_EQ(record.lMinimum, -10);
    EXPECT_EQ(record.lMaximum, 900);
    EXPECT_EQ(record.reserved[4], 91u);
    EXPECT_EQ(record.reserved[10], 0u);
    EXPECT_EQ(record.cMultipleItems, 0u);
}

TEST_F(VolumeControlTest, LookupRequestsCarryExactlyTheirFields) {
    const std::uint32_t lineId = card.addLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    card.addControl(lineId, {});
    const HMIXER handle = open();
    MixerControlRecord record{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, record));

    const auto lineCalls = card.callsOf(Op::GetLineInfo);
    ASSERT_EQ(lineCalls.size(), 1u);
    MIXERLINEA expectedLine{};
    expectedLine.cbStruct = 168;
    expectedLine.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    EXPECT_EQ(std::memcmp(&lineCalls[0].line, &expectedLine, sizeof expectedLine), 0)
        << "line record not zero-filled";
    EXPECT_EQ(lineCalls[0].flags, MIXER_GETLINEINFOF_COMPONENTTYPE);
    EXPECT_EQ(lineCalls[0].handle, handle);

    const auto controlCalls = card.callsOf(Op::GetLineControls);
    ASSERT_EQ(controlCalls.size(), 1u);
    const MIXERLINECONTROLSA& request = controlCalls[0].lineControls;
    EXPECT_EQ(request.cbStruct, sizeof(MIXERLINECONTROLSA));
    EXPECT_EQ(request.dwLineID, lineId);
    EXPECT_EQ(request.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(request.cControls, 1u);
    EXPECT_EQ(request.cbmxctrl, 152u);
    // Read into a local first: the record is packed, and EXPECT_NE would bind a reference to its
    // misaligned pointer member.
    const void* block = request.pamxctrl;
    EXPECT_NE(block, static_cast<const void*>(&record))
        << "the platform must write into a block of its own";
    EXPECT_TRUE(controlCalls[0].blockWasZero);
    EXPECT_EQ(controlCalls[0].flags, MIXER_GETLINECONTROLSF_ONEBYTYPE);
    EXPECT_EQ(controlCalls[0].handle, handle);
}

TEST_F(VolumeControlTest, MissingLineLeavesTheRecordUntouched) {
    card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    const HMIXER handle = open();
    MixerControlRecord record = patterned(0x5A);

    EXPECT_FALSE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                                 MIXERCONTROL_CONTROLTYPE_VOLUME, record));
    EXPECT_EQ(bytesOf(record), bytesOf(patterned(0x5A)));
    EXPECT_TRUE(card.callsOf(Op::GetLineControls).empty());

    // A line lookup the platform refuses for any other reason is the same.
    card.failNext(Op::GetLineInfo, MMSYSERR_ERROR);
    EXPECT_FALSE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                 MIXERCONTROL_CONTROLTYPE_VOLUME, record));
    EXPECT_EQ(bytesOf(record), bytesOf(patterned(0x5A)));
}

TEST_F(VolumeControlTest, MissingControlChangesOnlyCbStruct) {
    const std::uint32_t bare = card.addLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    card.addControl(bare, {.controlType = 0x20010002}); // a mute switch, not a volume
    const HMIXER handle = open();
    MixerControlRecord record = patterned(0x5A);

    EXPECT_FALSE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                                 MIXERCONTROL_CONTROLTYPE_VOLUME, record));
    MixerControlRecord expected = patterned(0x5A);
    expected.cbStruct = 152;
    EXPECT_EQ(bytesOf(record), bytesOf(expected));

    // An all-zero record (never found) therefore still names control 0 afterwards.
    MixerControlRecord fresh{};
    EXPECT_FALSE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                                 MIXERCONTROL_CONTROLTYPE_VOLUME, fresh));
    EXPECT_EQ(fresh.dwControlID, 0u);
}

TEST_F(VolumeControlTest, WriteSendsOneUnsignedValueForAllChannels) {
    const std::uint32_t id = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    const HMIXER handle = open();
    MixerControlRecord record{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, record));

    EXPECT_TRUE(VolumeControl::SetMixerControlValue(card, handle, record, 32768));
    EXPECT_EQ(card.control(id)->value, 32768u);

    const auto writes = card.callsOf(Op::SetControlDetails);
    ASSERT_EQ(writes.size(), 1u);
    const MIXERCONTROLDETAILS& request = writes[0].details;
    EXPECT_EQ(request.cbStruct, sizeof(MIXERCONTROLDETAILS));
    EXPECT_EQ(request.dwControlID, id);
    EXPECT_EQ(request.cChannels, 1u);
    EXPECT_EQ(request.cMultipleItems, 0u);
    EXPECT_EQ(request.cbDetails, 4u);
    EXPECT_EQ(writes[0].flags, MIXER_SETCONTROLDETAILSF_VALUE);
    EXPECT_EQ(writes[0].handle, handle);
}

TEST_F(VolumeControlTest, ValuesReachThePlatformAsTheirUnsignedForm) {
    const std::uint32_t id = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    const HMIXER handle = open();
    MixerControlRecord record{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, record));

    const struct {
        std::int32_t sent;
        std::uint32_t arrives;
    } cases[] = {{500, 500u}, {0, 0u}, {-1, 0xFFFFFFFFu}, {INT32_MIN, 0x80000000u}, {70000, 70000u}};
    for (const auto& c : cases) {
        EXPECT_TRUE(VolumeControl::SetMixerControlValue(card, handle, record, c.sent)) << c.sent;
        EXPECT_EQ(card.callsOf(Op::SetControlDetails).back().value, c.arrives) << c.sent;
        EXPECT_EQ(card.control(id)->value, c.arrives) << c.sent;
    }
}

TEST_F(VolumeControlTest, RefusedWritesReportFalseAndChangeNothing) {
    const std::uint32_t id = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    const HMIXER handle = open();
    MixerControlRecord found{};
    ASSERT_TRUE(VolumeControl::FindMixerControl(card, handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                MIXERCONTROL_CONTROLTYPE_VOLUME, found));
    ASSERT_TRUE(VolumeControl::SetMixerControlValue(card, handle, found, 1234));

    // A record whose lookup failed names control 0, which no control has.
    MixerControlRecord notFound{};
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(card, handle, notFound, 0));
    EXPECT_EQ(card.callsOf(Op::SetControlDetails).back().result, MIXERR_INVALCONTROL);

    // The handle of a failed open.
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(card, 0, found, 0));
    EXPECT_EQ(card.callsOf(Op::SetControlDetails).back().result, MMSYSERR_INVALHANDLE);

    card.failNext(Op::SetControlDetails, MMSYSERR_ERROR);
    EXPECT_FALSE(VolumeControl::SetMixerControlValue(card, handle, found, 0));

    EXPECT_EQ(card.control(id)->value, 1234u);
}

} // namespace
