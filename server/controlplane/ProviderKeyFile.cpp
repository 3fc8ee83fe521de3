#include "controlplane/ProviderKeyFile.hpp"

#include "common/OwnerOnlyFile.hpp"

#include <algorithm>

namespace lumora {

namespace {

constexpr std::size_t maximumKeyFileSize = 16 * 1024;

} // namespace

std::expected<std::string, std::string> readProviderKey(const std::string& path)
{
    auto key = readOwnerOnlyFile(path, "key file", maximumKeyFileSize);
    if (!key)
        return key;
    const bool visible = std::ranges::all_of(*key, [](char c) { return c > 0x20 && c < 0x7f; });
    if (key->empty() || !visible)
        return std::unexpected("the key file " + path + " must hold the key alone on one line");
    return key;
}

} // namespace lumora
