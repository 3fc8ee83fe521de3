#pragma once

#include "common/Asio.hpp"
#include "controlplane/HttpsClient.hpp"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace lumora {

// Reads an outside service's reply off a connection (TLS in the client, an in-memory stream
// where its parsing is fuzzed). Whatever the service sends, the outcome is a reply or a
// failure the caller treats like any other: nothing it sends is thrown.
struct HttpsReplyReader {
    // What the reader holds unparsed at once: the head, or the trailer section of a chunked
    // body, which Beast's parser takes in whole without counting it against the head's limit
    // (and throws on one field of 64 KiB). A body passes through in pieces, bounded apart.
    static constexpr std::size_t unparsedLimit = 16 * 1024;

    template <typename Stream>
    static boost::asio::awaitable<std::expected<HttpsReply, HttpsFailure>> read(Stream& stream)
    {
        namespace asio = boost::asio;
        namespace beast = boost::beast;
        namespace http = beast::http;
        beast::flat_buffer buffer(unparsedLimit);
        http::response_parser<http::string_body> parser;
        parser.header_limit(unparsedLimit);
        parser.body_limit(HttpsClient::replyLimit);
        beast::error_code ec;
        bool thrown = false;
        try {
            // The head alone first: read on with the first bytes of the body, Beast's parser
            // forgets that a told length passes the body's limit, and takes the whole body.
            co_await http::async_read_header(
                stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
            if (!ec)
                co_await http::async_read(
                    stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
        } catch (const std::exception&) {
            thrown = true;
        }
        if (thrown)
            co_return std::unexpected(HttpsFailure::malformedReply);
        if (ec) {
            // The parser's own refusals; anything else is the connection failing.
            const bool unparsed = ec.category() == http::make_error_code(http::error::bad_target).category();
            co_return std::unexpected(unparsed ? HttpsFailure::malformedReply : HttpsFailure::unreachable);
        }
        co_return HttpsReply { static_cast<int>(parser.get().result_int()), std::move(parser.get().body()) };
    }
};

} // namespace lumora
