#include "control/MidiControl.h"

#include <cstdio>

MidiControl::MidiControl(frmConsole& console, midi::Map map, Say say)
    : m_console(console), m_translator(std::move(map)),
      m_faults(
          kMaxFaultsSaid, say ? std::move(say) : [](const std::string& message) {
              std::fprintf(stderr, "fadewell: MIDI: %s\n", message.c_str());
          }) {}

void MidiControl::receive(const unsigned char* bytes, std::size_t size) {
    midi::Translator::Result result = m_translator.translate(bytes, size);
    if (!result.faultKey.empty())
        m_faults(result.faultKey, result.fault);
    for (osc::Command& command : result.commands) {
        const auto pushed = m_queue.push({std::move(command)});
        if (pushed.dropped)
            m_faults("full", "more than " + std::to_string(kMaxPending) +
                                 " commands were waiting for the console; the ones after them were dropped");
        if (pushed.post)
            QMetaObject::invokeMethod(this, &MidiControl::runPending, Qt::QueuedConnection);
    }
}

void MidiControl::runPending() {
    for (const Pending& pending : m_queue.take())
        runConsoleCommand(m_console, pending.command);
}
