#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumora {

class DeferredResponse;

// One request as a handler sees it: the plumbing has already read the whole body and
// split the target into path and query. Header names keep their case; `header` looks
// them up without regard to case, as HTTP says.
struct HttpRequest {
    std::string method;
    std::string path;
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The client's address (an IPv6 one by its /64 prefix, which one machine commonly holds
    // whole), as the server counts it.
    std::string client = {};
    // The client's network (an IPv4 address by its /24 prefix, an IPv6 one by its /48), which one
    // household or site commonly holds whole.
    std::string network = {};

    [[nodiscard]] std::string_view header(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // When set, the answer comes later from there (see DeferredResponse.hpp) and the other
    // members are not used.
    std::shared_ptr<DeferredResponse> deferred = nullptr;
};

// {"error": code}, the one form in which the servers refuse a request.
HttpResponse errorResponse(int status, std::string_view code);

} // namespace lumora
