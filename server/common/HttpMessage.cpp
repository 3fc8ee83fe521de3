#include "common/HttpMessage.hpp"

#include <algorithm>
#include <cctype>

namespace lumora {

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

} // namespace

std::string_view HttpRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (equalIgnoringCase(key, name))
            return value;
    }
    return {};
}

HttpResponse errorResponse(int status, std::string_view code)
{
    // Codes are fixed identifiers of our own ([a-z_]), so no escaping is needed.
    return HttpResponse { .status = status,
        .contentType = "application/json",
        .body = "{\"error\":\"" + std::string(code) + "\"}",
        .headers = {} };
}

} // namespace lumora
