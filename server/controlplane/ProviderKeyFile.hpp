#pragma once

#include <expected>
#include <string>

namespace lumora {

// Reads an outside service's API key from a file that only its owner may read or write
// (mode 0600 or 0400): a key file others can read is refused, as is one holding anything
// but one line of visible ASCII (the key goes into a request header). Errors name the
// file, never its contents.
std::expected<std::string, std::string> readProviderKey(const std::string& path);

} // namespace lumora
