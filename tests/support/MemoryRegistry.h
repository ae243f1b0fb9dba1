#pragma once
// A registry held in memory: keys under any root, values of any type and length, names compared
// without regard to case. It records every call, so a test can tell which keys were opened, with
// what options and rights, which values were asked for, and whether every key was closed again.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Registry.h"

class MemoryRegistry final : public registry::Registry {
public:
    struct OpenCall {
        registry::HKEY root;
        std::string subKey;
        std::uint32_t options;
        std::uint32_t samDesired;
        bool found;
    };
    struct QueryCall {
        std::string subKey;
        std::string valueName;
        std::uint32_t bufferSize;
    };

    // A key that exists without any value yet.
    void addKey(registry::HKEY root, const std::string& subKey);
    // Stores the bytes exactly as given; creates the key if needed.
    void setValue(registry::HKEY root, const std::string& subKey, const std::string& name, std::uint32_t type,
                  std::vector<std::uint8_t> bytes);
    // A REG_SZ value; with its terminating zero byte unless told otherwise.
    void setString(registry::HKEY root, const std::string& subKey, const std::string& name,
                   const std::string& text, bool withTerminator = true);
    // A REG_DWORD value, little-endian.
    void setDword(registry::HKEY root, const std::string& subKey, const std::string& name,
                  std::int32_t number);

    registry::LSTATUS RegOpenKeyExA(registry::HKEY root, const std::string& subKey, std::uint32_t options,
                                    std::uint32_t samDesired, registry::HKEY* result) override;
    registry::LSTATUS RegQueryValueExA(registry::HKEY key, const std::string& valueName,
                                       std::uint32_t* reserved, std::uint32_t* type, std::uint8_t* data,
                                       std::uint32_t* size) override;
    registry::LSTATUS RegCloseKey(registry::HKEY key) override;

    // Keys opened and not closed yet.
    std::size_t openKeyCount() const { return m_open.size(); }
    // The sub-keys asked for, in order, whether they existed or not.
    std::vector<std::string> openedKeys() const;

    std::vector<OpenCall> opens;
    std::vector<QueryCall> queries;
    // Closes of handles that were not open (twice closed, never opened).
    int badCloses = 0;

private:
    struct Key {
        registry::HKEY root;
        std::string path;
        std::vector<std::pair<std::string, registry::Value>> values;
    };

    Key* findKey(registry::HKEY root, const std::string& subKey);

    std::vector<Key> m_keys;
    std::map<registry::HKEY, std::size_t> m_open; // handle -> index in m_keys
    registry::HKEY m_nextHandle = 0x1000;
};
