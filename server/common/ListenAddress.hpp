#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace lumora {

// The "HOST:PORT" a server listens on. HOST is an IPv4 or IPv6 address (IPv6 in square
// brackets) or "localhost"; PORT 0 lets the system choose a free port.
struct ListenAddress {
    std::string host;
    std::uint16_t port = 0;

    static std::expected<ListenAddress, std::string> parse(std::string_view text);
    [[nodiscard]] bool isLoopback() const;
    [[nodiscard]] std::string text() const;
};

} // namespace lumora
