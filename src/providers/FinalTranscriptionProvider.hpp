#pragma once

#include "providers/AccountRecords.hpp"
#include "providers/DeepgramTranscript.hpp"
#include "providers/ProviderFailure.hpp"

#include <QString>
#include <QUrl>
#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Transcribes the whole recorded file after the conversation.
class FinalTranscriptionProvider {
public:
    virtual ~FinalTranscriptionProvider() = default;

    // Uploads the file at `audioURL` (a file URL) with content type `mimeType`,
    // authorised by `grant`.
    [[nodiscard]] virtual QCoro::Task<std::expected<DeepgramTranscript, ProviderFailure>> transcribeFinal(
        QUrl audioURL, QString mimeType, DeepgramGrant grant) const = 0;
};

} // namespace lumora
