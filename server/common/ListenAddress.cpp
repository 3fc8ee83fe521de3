#include "common/ListenAddress.hpp"

#include "common/Asio.hpp"

#include <charconv>

namespace lumora {

namespace {

std::string resolvedHost(const std::string& host)
{
    return host == "localhost" ? std::string("127.0.0.1") : host;
}

} // namespace

std::expected<ListenAddress, std::string> ListenAddress::parse(std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::unexpected("expected HOST:PORT, got \"" + std::string(text) + "\"");
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);

    unsigned port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port > 65535)
        return std::unexpected("invalid port \"" + std::string(portText) + "\"");

    ListenAddress address { std::string(host), static_cast<std::uint16_t>(port) };
    boost::system::error_code ec;
    boost::asio::ip::make_address(resolvedHost(address.host), ec);
    if (ec)
        return std::unexpected("invalid host \"" + address.host + "\": an IP address or localhost");
    return address;
}

bool ListenAddress::isLoopback() const
{
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(resolvedHost(host), ec);
    return !ec && address.is_loopback();
}

std::string ListenAddress::text() const
{
    const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
    return shown + ":" + std::to_string(port);
}

} // namespace lumora
