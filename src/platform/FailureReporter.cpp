#include "platform/FailureReporter.h"

#include <cstdio>
#include <QString>

#include "platform/MessageBoxes.h"

void FailureReporter::report(const char* handlerName, const std::string& message) noexcept {
    std::fprintf(stderr, "fadewell: %s failed: %s\n", handlerName, message.c_str());
    try {
        if (m_shown.insert(message).second)
            m_boxes.notify(m_parent, QString::fromStdString(message));
    } catch (...) {
        // Reporting must never take the program down; stderr already has it.
    }
}
