#pragma once

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

// How the servers read a request off a connection: Beast's parser, with limits of our own and
// a body that grows as its bytes arrive.
namespace lumora {

constexpr std::uint32_t requestHeadLimit = 16 * 1024;
// What a connection may hold unparsed: the head, or the trailer section of a chunked body,
// which the parser takes in whole and does not count against the head's limit. Beast throws
// on a single field of 64 KiB; this bound keeps every field far below that.
constexpr std::size_t readBufferLimit = requestHeadLimit;

// A request body that grows as its bytes arrive: Beast's string body reserves the whole
// announced length as soon as the head is read, before a byte of it has come.
struct ArrivingBody {
    using value_type = std::string;

    class reader {
    public:
        template <bool isRequest, typename Fields>
        reader(boost::beast::http::header<isRequest, Fields>&, value_type& body)
            : m_body(body)
        {
        }
        void init(const boost::optional<std::uint64_t>&, boost::beast::error_code& ec) { ec = {}; }
        template <typename Buffers> std::size_t put(const Buffers& buffers, boost::beast::error_code& ec)
        {
            std::size_t added = 0;
            for (const auto buffer : boost::beast::buffers_range_ref(buffers)) {
                m_body.append(static_cast<const char*>(buffer.data()), buffer.size());
                added += buffer.size();
            }
            ec = {};
            return added;
        }
        void finish(boost::beast::error_code& ec) { ec = {}; }

    private:
        value_type& m_body;
    };
};

using RequestParser = boost::beast::http::request_parser<ArrivingBody>;

// Sets the limits of a parser for the next request on a connection.
inline void limitRequest(RequestParser& parser, std::size_t bodyLimit)
{
    parser.body_limit(bodyLimit);
    parser.header_limit(requestHeadLimit);
}

} // namespace lumora
