#include "support/MemoryRegistry.h"

using namespace registry;

MemoryRegistry::Key* MemoryRegistry::findKey(HKEY root, const std::string& subKey) {
    for (Key& key : m_keys) {
        if (key.root == root && sameName(key.path, subKey))
            return &key;
    }
    return nullptr;
}

void MemoryRegistry::addKey(HKEY root, const std::string& subKey) {
    if (findKey(root, subKey) == nullptr)
        m_keys.push_back({root, subKey, {}});
}

void MemoryRegistry::setValue(HKEY root, const std::string& subKey, const std::string& name,
                              std::uint32_t type, std::vector<std::uint8_t> bytes) {
    addKey(root, subKey);
    Key* key = findKey(root, subKey);
    for (auto& [valueName, value] : key->values) {
        if (sameName(valueName, name)) {
            value = {type, std::move(bytes)};
            return;
        }
    }
    key->values.push_back({name, {type, std::move(bytes)}});
}

void MemoryRegistry::setString(HKEY root, const std::string& subKey, const std::string& name,
                               const std::string& text, bool withTerminator) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (withTerminator)
        bytes.push_back(0);
    setValue(root, subKey, name, REG_SZ, std::move(bytes));
}

void MemoryRegistry::setDword(HKEY root, const std::string& subKey, const std::string& name,
                              std::int32_t number) {
    const auto raw = static_cast<std::uint32_t>(number);
    setValue(root, subKey, name, REG_DWORD,
             {static_cast<std::uint8_t>(raw), static_cast<std::uint8_t>(raw >> 8),
              static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 24)});
}

LSTATUS MemoryRegistry::RegOpenKeyExA(HKEY root, const std::string& subKey, std::uint32_t options,
                                      std::uint32_t samDesired, HKEY* result) {
    const Key* key = findKey(root, subKey);
    opens.push_back({root, subKey, options, samDesired, key != nullptr});
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (key == nullptr)
        return ERROR_FILE_NOT_FOUND;
    const HKEY handle = m_nextHandle++;
    m_open.emplace(handle, static_cast<std::size_t>(key - m_keys.data()));
    *result = handle;
    return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::RegQueryValueExA(HKEY key, const std::string& valueName, std::uint32_t*,
                                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    const auto open = m_open.find(key);
    if (open == m_open.end())
        return ERROR_INVALID_HANDLE;
    const Key& k = m_keys[open->second];
    queries.push_back({k.path, valueName, size != nullptr ? *size : 0});
    for (const auto& [name, value] : k.values) {
        if (sameName(name, valueName))
            return answerQuery(value, type, data, size);
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS MemoryRegistry::RegCloseKey(HKEY key) {
    if (m_open.erase(key) == 1)
        return ERROR_SUCCESS;
    ++badCloses;
    return ERROR_INVALID_HANDLE;
}

std::vector<std::string> MemoryRegistry::openedKeys() const {
    std::vector<std::string> keys;
    for (const OpenCall& call : opens)
        keys.push_back(call.subKey);
    return keys;
}
