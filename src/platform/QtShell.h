#pragma once
// The shell on the desktop: files through QFileInfo, programs started detached, so nothing here
// waits for them or watches them.
#include "platform/Shell.h"

class QtShell final : public Shell {
public:
    // True only for an existing file (not a folder) at exactly this path.
    bool fileExists(const QString& path) const override;
    void startProgram(const QString& path) override;
};
