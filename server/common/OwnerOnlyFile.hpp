#pragma once

#include <cstddef>
#include <expected>
#include <string>

namespace lumora {

// Reads a secret from a regular file of the server's own user that only its owner may read or
// write (mode 0600 or 0400): a file others can read or change, or one another user owns, is
// refused, so a secret on a shared machine stays the operator's; so is anything but a regular
// file (a FIFO, a device), at once.
// `what` names the file in errors ("key file", "speech token secret"); an error names the file,
// never its contents. Trailing line ends and blanks are dropped.
std::expected<std::string, std::string> readOwnerOnlyFile(
    const std::string& path, const std::string& what, std::size_t maximumSize);

} // namespace lumora
