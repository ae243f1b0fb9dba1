#pragma once
// A read-only registry in the shape of the classic registry functions: open a key under a root,
// query one value's type and bytes, close the key.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace registry {

using HKEY = std::uint32_t;
using LSTATUS = std::int32_t;

inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

class Registry {
public:
    virtual ~Registry() = default;
    virtual LSTATUS RegOpenKeyExA(HKEY root, const std::string& subKey, std::uint32_t options,
                                  std::uint32_t samDesired, HKEY* result) = 0;
    // data and size as the classic call: size in is the buffer's length, out the value's length.
    virtual LSTATUS RegQueryValueExA(HKEY key, const std::string& valueName, std::uint32_t* reserved,
                                     std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;
};

// One stored value: its type and its bytes exactly as stored (a string value usually ends in a
// zero byte, but nothing forces it to).
struct Value {
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> bytes;
};

// Answers a query for a found value the way the classic call does, so every implementation agrees
// on the awkward cases: no buffer asks for the size only; a buffer too small gets nothing but the
// size it would need.
inline LSTATUS answerQuery(const Value& value, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (type != nullptr)
        *type = value.type;
    const auto needed = static_cast<std::uint32_t>(value.bytes.size());
    if (size == nullptr)
        return ERROR_SUCCESS;
    const std::uint32_t room = *size;
    *size = needed;
    if (data == nullptr)
        return ERROR_SUCCESS;
    if (room < needed)
        return ERROR_MORE_DATA;
    if (needed > 0)
        std::memcpy(data, value.bytes.data(), needed);
    return ERROR_SUCCESS;
}

// Key and value names compare without regard to case, as the registry's do.
inline bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace registry
