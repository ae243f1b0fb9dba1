#include "support/MemoryMixer.h"

#include <algorithm>
#include <cstring>

#include "platform/MixerRequests.h"

namespace mixer {

namespace {

// Line ids live far from control ids, as destination lines do on the classic platform.
constexpr std::uint32_t kFirstLineId = 0xFFFF0000;

} // namespace

std::uint32_t MemoryMixer::addLine(std::uint32_t componentType, std::string name) {
    const auto lineId = kFirstLineId + static_cast<std::uint32_t>(m_lines.size());
    m_lines.push_back({lineId, componentType, std::move(name), {}});
    return lineId;
}

std::uint32_t MemoryMixer::addControl(std::uint32_t lineId, Control control) {
    Line* line = findLine(lineId);
    if (line == nullptr)
        return 0;
    const auto controlId = static_cast<std::uint32_t>(m_controls.size()) + 1;
    m_controls.emplace(controlId, std::move(control));
    line->controlIds.push_back(controlId);
    return controlId;
}

std::uint32_t MemoryMixer::addVolumeLine(std::uint32_t componentType, std::int32_t minimum,
                                         std::int32_t maximum) {
    Control volume;
    volume.minimum = minimum;
    volume.maximum = maximum;
    return addControl(addLine(componentType), volume);
}

const MemoryMixer::Control* MemoryMixer::control(std::uint32_t controlId) const {
    const auto it = m_controls.find(controlId);
    return it == m_controls.end() ? nullptr : &it->second;
}

std::vector<MemoryMixer::Call> MemoryMixer::callsOf(Operation operation) const {
    std::vector<Call> result;
    std::copy_if(m_calls.begin(), m_calls.end(), std::back_inserter(result),
                 [operation](const Call& c) { return c.operation == operation; });
    return result;
}

std::optional<MMRESULT> MemoryMixer::takeFailure(Operation operation) {
    const auto it = m_failures.find(operation);
    if (it == m_failures.end())
        return std::nullopt;
    const MMRESULT result = it->second;
    m_failures.erase(it);
    return result;
}

MMRESULT MemoryMixer::record(Call call) {
    m_calls.push_back(std::move(call));
    return m_calls.back().result;
}

MemoryMixer::Line* MemoryMixer::findLine(std::uint32_t lineId) {
    const auto it =
        std::find_if(m_lines.begin(), m_lines.end(), [lineId](const Line& l) { return l.lineId == lineId; });
    return it == m_lines.end() ? nullptr : &*it;
}

MMRESULT MemoryMixer::mixerOpen(HMIXER* phmx, std::uint32_t uMxId, std::uintptr_t dwCallback,
                                std::uintptr_t dwInstance, std::uint32_t fdwOpen) {
    Call call{.operation = Operation::Open,
              .flags = fdwOpen,
              .deviceId = uMxId,
              .callback = dwCallback,
              .instance = dwInstance};
    if (auto failure = takeFailure(Operation::Open))
        call.result = *failure;
    else if (phmx == nullptr)
        call.result = MMSYSERR_INVALPARAM;
    else if (uMxId >= m_devices)
        call.result = MMSYSERR_BADDEVICEID;
    else if (fdwOpen != 0 || dwCallback != 0)
        call.result = MMSYSERR_INVALFLAG;
    if (call.result == MMSYSERR_NOERROR) {
        // Handles count from 1, so the 0 a failed open leaves behind names nothing.
        m_handles.push_back(static_cast<HMIXER>(m_handles.size()) + 1);
        *phmx = call.handle = m_handles.back();
    }
    return record(std::move(call));
}

MMRESULT MemoryMixer::mixerGetLineInfoA(HMIXER hmx, MIXERLINEA* pmxl, std::uint32_t fdwInfo) {
    Call call{.operation = Operation::GetLineInfo, .handle = hmx, .flags = fdwInfo};
    if (pmxl != nullptr)
        call.line = *pmxl;
    if (auto failure = takeFailure(Operation::GetLineInfo)) {
        call.result = *failure;
    } else if (std::find(m_handles.begin(), m_handles.end(), hmx) == m_handles.end()) {
        call.result = MMSYSERR_INVALHANDLE;
    } else if ((call.result = checkLineInfoRequest(pmxl, fdwInfo)) == MMSYSERR_NOERROR) {
        const auto it = std::find_if(m_lines.begin(), m_lines.end(), [pmxl](const Line& l) {
            return l.componentType == pmxl->dwComponentType;
        });
        if (it == m_lines.end()) {
            call.result = MIXERR_INVALLINE;
        } else {
            describeLine(*pmxl, {.lineId = it->lineId,
                                 .source = static_cast<std::uint32_t>(it - m_lines.begin()),
                                 .channels = 2,
                                 .controls = static_cast<std::uint32_t>(it->controlIds.size()),
                                 .shortName = it->name,
                                 .name = it->name});
        }
    }
    return record(std::move(call));
}

MMRESULT MemoryMixer::mixerGetLineControlsA(HMIXER hmx, MIXERLINECONTROLSA* pmxlc,
                                            std::uint32_t fdwControls) {
    Call call{.operation = Operation::GetLineControls, .handle = hmx, .flags = fdwControls};
    if (pmxlc != nullptr)
        call.lineControls = *pmxlc;
    if (auto failure = takeFailure(Operation::GetLineControls)) {
        call.result = *failure;
    } else if (std::find(m_handles.begin(), m_handles.end(), hmx) == m_handles.end()) {
        call.result = MMSYSERR_INVALHANDLE;
    } else if ((call.result = checkLineControlsRequest(pmxlc, fdwControls)) == MMSYSERR_NOERROR) {
        auto* block = static_cast<unsigned char*>(pmxlc->pamxctrl);
        call.blockWasZero =
            std::all_of(block, block + pmxlc->cbmxctrl, [](unsigned char b) { return b == 0; });
        const Line* line = findLine(pmxlc->dwLineID);
        const auto id =
            line == nullptr
                ? m_controls.end()
                : std::find_if(m_controls.begin(), m_controls.end(), [&](const auto& c) {
                      return c.second.controlType == pmxlc->dwControlType &&
                             std::count(line->controlIds.begin(), line->controlIds.end(), c.first) > 0;
                  });
        if (line == nullptr) {
            call.result = MIXERR_INVALLINE;
        } else if (id == m_controls.end()) {
            call.result = MIXERR_INVALCONTROL;
        } else {
            const Control& c = id->second;
            describeControl(block, {.controlId = id->first,
                                    .controlType = c.controlType,
                                    .fdwControl = c.fdwControl,
                                    .minimum = c.minimum,
                                    .maximum = c.maximum,
                                    .steps = c.steps,
                                    .shortName = c.shortName,
                                    .name = c.name});
        }
        call.block.assign(block, block + pmxlc->cbmxctrl);
    }
    return record(std::move(call));
}

MMRESULT MemoryMixer::mixerSetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd,
                                             std::uint32_t fdwDetails) {
    Call call{.operation = Operation::SetControlDetails, .handle = hmx, .flags = fdwDetails};
    if (pmxcd != nullptr) {
        call.details = *pmxcd;
        if (pmxcd->paDetails != nullptr && pmxcd->cbDetails >= sizeof(MIXERCONTROLDETAILS_UNSIGNED)) {
            std::uint32_t value = 0;
            std::memcpy(&value, pmxcd->paDetails, sizeof value);
            call.value = value;
        }
    }
    if (auto failure = takeFailure(Operation::SetControlDetails)) {
        call.result = *failure;
    } else if (std::find(m_handles.begin(), m_handles.end(), hmx) == m_handles.end()) {
        call.result = MMSYSERR_INVALHANDLE;
    } else if ((call.result = checkDetailsRequest(pmxcd, fdwDetails)) == MMSYSERR_NOERROR) {
        const auto it = m_controls.find(pmxcd->dwControlID);
        if (it == m_controls.end())
            call.result = MIXERR_INVALCONTROL;
        else
            it->second.value = *call.value;
    }
    return record(std::move(call));
}

} // namespace mixer
