#include "platform/SystemRegistry.h"

#include <QFile>
#include <QStandardPaths>

using namespace registry;

namespace {

const std::string kToolKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kToolValue = "PATH";

} // namespace

QStringList SystemRegistry::knownTools() {
    return {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("cpu-x")};
}

QString SystemRegistry::findSystemInformationTool() {
    for (const QString& tool : knownTools()) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

LSTATUS SystemRegistry::RegOpenKeyExA(HKEY root, const std::string& subKey, std::uint32_t, std::uint32_t,
                                      HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (root != HKEY_LOCAL_MACHINE || !sameName(subKey, kToolKey))
        return ERROR_FILE_NOT_FOUND;
    // Looked up at each opening, so a tool installed while the program runs is found.
    const QString tool = findSystemInformationTool();
    if (tool.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    const QByteArray encoded = QFile::encodeName(tool);
    Value value{REG_SZ, std::vector<std::uint8_t>(encoded.begin(), encoded.end())};
    value.bytes.push_back(0);
    const HKEY handle = m_nextHandle++;
    m_openKeys.emplace(handle, std::move(value));
    *result = handle;
    return ERROR_SUCCESS;
}

LSTATUS SystemRegistry::RegQueryValueExA(HKEY key, const std::string& valueName, std::uint32_t*,
                                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    const auto open = m_openKeys.find(key);
    if (open == m_openKeys.end())
        return ERROR_INVALID_HANDLE;
    if (!sameName(valueName, kToolValue))
        return ERROR_FILE_NOT_FOUND;
    return answerQuery(open->second, type, data, size);
}

LSTATUS SystemRegistry::RegCloseKey(HKEY key) {
    return m_openKeys.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
