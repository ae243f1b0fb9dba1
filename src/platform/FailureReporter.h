#pragma once
// The one handling of failures that no handler traps: at the boundary where Qt calls a handler, the
// failure is written to stderr with the handler's name and shown once per distinct message in a box
// that does not block, so a timer failing twenty times a second does not stack boxes. The program
// goes on with the state the failing step left.
#include <exception>
#include <set>
#include <string>
#include <utility>

class MessageBoxes;
class QWidget;

class FailureReporter {
public:
    FailureReporter(MessageBoxes& boxes, QWidget* parent) : m_boxes(boxes), m_parent(parent) {}

    // Runs a handler; whatever it throws is reported and goes no further.
    template <class Handler>
    void run(const char* handlerName, Handler&& handler) noexcept {
        try {
            std::forward<Handler>(handler)();
        } catch (const std::exception& e) {
            report(handlerName, e.what());
        } catch (...) {
            report(handlerName, "unknown failure");
        }
    }

    void report(const char* handlerName, const std::string& message) noexcept;

    // How many distinct messages have been shown so far.
    std::size_t shownCount() const { return m_shown.size(); }

private:
    MessageBoxes& m_boxes;
    QWidget* m_parent;
    std::set<std::string> m_shown;
};
