#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/OffThread.hpp"
#include "providers/ControlPlaneFailure.hpp"

#include <QByteArray>
#include <expected>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

namespace lumora {

// Decodes a reply body into T with `decode` on a pool thread and hands the record back: replies
// grow with the conversation (a final analysis, a whole review from the account), and the
// caller's thread only waits for the result.
template <typename T, typename Decode>
QCoro::Task<std::expected<T, ControlPlaneFailure>> decodeOffThread(QByteArray body, Decode decode)
{
    // Wrapped: a future needs a plain value.
    struct Decoded {
        std::expected<T, JsonDecodeError> value;
    };
    const auto decoding = startOffThread(
        [body = std::move(body), decode = std::move(decode)] { return Decoded { decode(body) }; });
    auto decoded = std::move((*co_await qCoro(decoding).waitForFinished()).value);
    if (!decoded)
        co_return std::unexpected(ControlPlaneFailure(decoded.error()));
    co_return std::move(*decoded);
}

} // namespace lumora
