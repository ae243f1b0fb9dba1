#pragma once
// The two things the About box asks of the operating system besides the registry: whether a file
// exists, and starting another program without waiting for it.
#include <QString>

class Shell {
public:
    virtual ~Shell() = default;
    virtual bool fileExists(const QString& path) const = 0;
    // Starts the program in a normal window that takes the focus; throws FadewellError naming the
    // program when it cannot be started.
    virtual void startProgram(const QString& path) = 0;
};
