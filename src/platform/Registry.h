#pragma once
// A read-only registry in the shape of the classic registry functions: open a key under a root,
// query one value's type and bytes, close the key.
#include <cstdint>
#include <string>

namespace registry {

using HKEY = std::uint32_t;
using LSTATUS = std::int32_t;

inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_DWORD = 4;

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

} // namespace registry
