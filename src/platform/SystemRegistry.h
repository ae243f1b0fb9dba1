#pragma once
// The registry on Linux. There is no registry here; the only thing the program ever reads from one
// is where the system information tool lives, so this answers that single value from the desktop:
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO, value "PATH" (a string with its zero
// byte) holding the full path of the first well-known tool found on PATH. Without such a tool the
// key does not exist, and the About box says the tool is unavailable. UI thread only.
#include <QString>
#include <QStringList>
#include <map>

#include "platform/Registry.h"

class SystemRegistry final : public registry::Registry {
public:
    // The desktop's system information tools, in order of preference; each opens its own window
    // when started without arguments.
    static QStringList knownTools();
    // Full path of the first known tool on PATH, or empty.
    static QString findSystemInformationTool();

    registry::LSTATUS RegOpenKeyExA(registry::HKEY root, const std::string& subKey, std::uint32_t options,
                                    std::uint32_t samDesired, registry::HKEY* result) override;
    registry::LSTATUS RegQueryValueExA(registry::HKEY key, const std::string& valueName,
                                       std::uint32_t* reserved, std::uint32_t* type, std::uint8_t* data,
                                       std::uint32_t* size) override;
    registry::LSTATUS RegCloseKey(registry::HKEY key) override;

private:
    // Each open key keeps the value found when it was opened.
    std::map<registry::HKEY, registry::Value> m_openKeys;
    registry::HKEY m_nextHandle = 0x100;
};
