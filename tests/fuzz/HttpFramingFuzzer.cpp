// The servers' own request framing: the bytes of one connection read as HttpServer reads them,
// Beast's parser with our limits and body reader, each body's bytes counted in a body budget
// as they arrive. The first byte picks whose the bodies are, whether their heads are let
// through and how the bytes arrive; the rest is what the client sends.
#include "FuzzSupport.hpp"
#include "common/BodyBudget.hpp"
#include "common/RequestFraming.hpp"

#include <algorithm>
#include <array>
#include <optional>

using namespace lumora;
using namespace lumora::fuzzing;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

LUMORA_FUZZ_QUIET_INITIALIZE

namespace {

// Small limits, so that short inputs reach them: a body's, one whose head is not let through
// (HttpServerOptions::uncheckedBodyLimit), and the budget's.
constexpr std::size_t bodyLimit = 512;
constexpr std::size_t uncheckedBodyLimit = 64;
constexpr BodyBudgetLimits budgetLimits {
    .total = 1536, .strangers = 512, .perAddress = 256, .perOwner = 640, .floorRate = 16
};
constexpr auto step = std::chrono::milliseconds(300);

// The client's bytes, handed out in pieces of the sizes the input picks, then the end.
class Connection {
public:
    Connection(std::string_view bytes, unsigned pattern)
        : m_bytes(bytes)
        , m_pattern(pattern)
    {
    }

    template <typename Buffers> std::size_t read_some(const Buffers& buffers, beast::error_code& ec)
    {
        ec = {};
        if (m_bytes.empty()) {
            ec = asio::error::eof;
            return 0;
        }
        static constexpr std::array<std::size_t, 8> pieces { 1, 3, 17, 64, 200, 1000, 4096, 65536 };
        const std::size_t piece = pieces[(m_pattern + m_reads++) % pieces.size()];
        std::size_t copied = 0;
        for (const auto buffer : beast::buffers_range_ref(buffers)) {
            const std::size_t size = std::min({ buffer.size(), piece - copied, m_bytes.size() });
            std::copy_n(m_bytes.data(), size, static_cast<char*>(buffer.data()));
            m_bytes.remove_prefix(size);
            copied += size;
        }
        return copied;
    }
    template <typename Buffers> std::size_t read_some(const Buffers& buffers)
    {
        beast::error_code ec;
        const std::size_t read = read_some(buffers, ec);
        if (ec)
            throw beast::system_error(ec);
        return read;
    }

private:
    std::string_view m_bytes;
    unsigned m_pattern;
    unsigned m_reads = 0;
};

// Whether a failed read is one the server answers (a malformed request, a body too long) or
// one after which nobody is there to answer.
bool expected(const beast::error_code& ec)
{
    return ec.category() == http::make_error_code(http::error::bad_target).category()
        || ec == asio::error::eof;
}

// Serves the connection's requests as HttpServer does, until it would close it.
void serve(Connection& connection, BodyBudget& budget, unsigned choice, BodyBudget::Clock::time_point& now)
{
    using Whose = BodyBudget::Place::Whose;
    const auto whose = static_cast<Whose>(choice % 3);
    const bool letThrough = (choice & 4) == 0;
    beast::flat_buffer buffer(readBufferLimit);
    for (int request = 0; request < 64; ++request) {
        RequestParser parser;
        limitRequest(parser, bodyLimit);
        beast::error_code ec;
        http::read_header(connection, buffer, parser, ec);
        require(buffer.size() <= readBufferLimit, "a connection holds more unparsed bytes than its limit");
        if (ec) {
            require(
                expected(ec), "reading a head fails unexpectedly", QByteArray::fromStdString(ec.message()));
            return;
        }
        std::size_t limit = bodyLimit;
        if (!parser.is_done()) {
            const auto declared = parser.content_length();
            Whose taker = whose;
            if (!letThrough) {
                // A head that is not let through has its long body refused before it is read.
                if (declared && *declared > uncheckedBodyLimit)
                    return;
                if (!declared)
                    parser.body_limit(limit = uncheckedBodyLimit);
                taker = Whose::stranger;
            }
            BodyBudget::Place place(budget, taker, taker == Whose::owner ? "owner" : "10.0.0.0/24", now);
            while (!parser.is_done()) {
                if (now > place.lapsesAt())
                    return;
                http::read_some(connection, buffer, parser, ec);
                now += step;
                require(parser.get().body().size() <= limit, "a body passes its limit");
                if (!place.cover(parser.get().body().size(), now))
                    return;
                if (ec) {
                    require(expected(ec), "reading a body fails unexpectedly",
                        QByteArray::fromStdString(ec.message()));
                    return;
                }
            }
            if (taker == Whose::named)
                place.vouch("owner", now);
        }
        const auto declared = parser.content_length();
        auto whole = parser.release();
        require(
            !declared || whole.body().size() == *declared, "a whole body is not as long as its head says");
        if (!whole.keep_alive())
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned choice = data[0];
    Connection connection(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), choice >> 3);
    BodyBudget budget(budgetLimits);
    auto now = BodyBudget::Clock::time_point {};
    serve(connection, budget, choice, now);

    // What the connection's bodies held is given back: once their refusals are forgotten, each
    // part can be taken whole again, by two keys at once.
    using Whose = BodyBudget::Place::Whose;
    const auto later = now + std::chrono::seconds(11);
    const auto whole = [&](Whose whose, std::size_t room, std::size_t cap) {
        BodyBudget::Place first(budget, whose, "first", later);
        BodyBudget::Place second(budget, whose, "second", later);
        return first.cover(std::min(room, cap), later) && second.cover(room - std::min(room, cap), later);
    };
    const std::size_t owners = budgetLimits.total - budgetLimits.strangers;
    require(whole(Whose::owner, owners, budgetLimits.perOwner), "the owners' part is not given back");
    require(whole(Whose::named, owners / 2, budgetLimits.perOwner),
        "the part of bodies not yet vouched for is not given back");
    require(whole(Whose::stranger, budgetLimits.strangers, budgetLimits.perAddress),
        "the strangers' part is not given back");
    return 0;
}
