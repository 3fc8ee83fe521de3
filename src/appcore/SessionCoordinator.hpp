#pragma once

#include "appcore/FinishUnderWay.hpp"
#include "appcore/PreparedConversation.hpp"
#include "appcore/SessionCoordinatorError.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/SessionPhase.hpp"
#include "domain/SpeakerTurn.hpp"
#include "persistence/ConversationMarks.hpp"
#include "persistence/TemporaryConversationStore.hpp"
#include "providers/AccountRecords.hpp"
#include "providers/DeepgramTranscript.hpp"
#include "wire/AnalysisProviderResult.hpp"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

class AnalysisProvider;
class DerivedResultRepository;
class FinalTranscriptionProvider;
class ProviderTokenSource;
class ProviderUsageReporter;
class SessionAuthorizationProvider;

// Runs the server and storage side of one conversation at a time: the usage reservation,
// the private temporary folder, the conversation's mark (ConversationMarks) and the live
// credential at the start; the settled live turns while it runs; and at the end a fresh credential, the final
// transcription of the recorded file, its usage report, the final analysis, the sealed review,
// the finalized reservation and the removal of the temporary files.
//
// The conversation is kept from the press of Finish on: `sealProvisional` seals a review made
// of the live turns and the live findings at once, under the conversation's id, and the finish
// replaces it with the final review. When the final review cannot be had (the provider or the
// control plane out of reach, the store failing), the provisional one stays as the review
// instead. Only a finish without it fails; that cancels the reservation and removes the folder
// where it can. Either way the recording is removed at the end, and so is the mark; a reservation
// that could be neither finalized nor cancelled keeps it, as `reservationOpen`, for a later cancel.
//
// The final transcription is tried up to `finalTranscriptionAttempts` times, each with a fresh
// credential, waiting `retryDelay` and then twice that between attempts, all before the
// reservation is released. When every attempt fails, the review is built from the settled live
// turns through the same final analysis. A review made from the live turns, this one or the
// provisional one, says so (`fromLiveTranscript`); a final review does not.
//
// Lives on one event loop. Each awaited collaborator call lets other calls in, so the phase
// is set before the first wait and overlapping calls are refused by phase. `abandon()` resets
// the fields at once, even while prepare or finish waits; the waiting operation then goes on
// with its own copies of the reservation, id and folder and never writes the fields again, so
// it cannot disturb a conversation prepared after the abandon. A prepare that finds itself
// abandoned releases what it obtained and fails with `invalidState`.
//
// Made through `create`: a waiting operation holds the coordinator, so its owner may drop it
// after an abandon without cutting the operation short.
class SessionCoordinator : public std::enable_shared_from_this<SessionCoordinator> {
public:
    // The longest conversation accepted, requested or recorded, in seconds.
    static constexpr double maximumConversationSeconds = 3600;
    static constexpr auto recordingFileName = "recording.m4a";
    static constexpr auto finalTranscriptionModel = "nova-3";
    static constexpr int finalTranscriptionAttempts = 3;
    static constexpr std::chrono::milliseconds standardRetryDelay { 2000 };

    template <typename T> using Result = std::expected<T, SessionCoordinatorFailure>;

    static std::shared_ptr<SessionCoordinator> create(
        std::shared_ptr<SessionAuthorizationProvider> authorization,
        std::shared_ptr<ProviderTokenSource> tokenSource,
        std::shared_ptr<FinalTranscriptionProvider> transcription, std::shared_ptr<AnalysisProvider> analysis,
        std::shared_ptr<ProviderUsageReporter> usage, std::shared_ptr<DerivedResultRepository> results,
        TemporaryConversationStore temporary, ConversationMarks marks,
        std::chrono::milliseconds retryDelay = standardRetryDelay);

    [[nodiscard]] SessionPhase phase() const { return m_phase; }
    [[nodiscard]] ConversationMode mode() const { return m_mode; }
    // The reservation, session id, folder and accepted live turns of the current conversation.
    [[nodiscard]] const std::optional<UsageReservation>& reservation() const { return m_reservation; }
    [[nodiscard]] const std::optional<QUuid>& sessionID() const { return m_sessionID; }
    [[nodiscard]] const std::optional<QString>& sessionDirectory() const { return m_sessionDirectory; }
    [[nodiscard]] const QList<SpeakerTurn>& turns() const { return m_turns; }

    // Reserves `requestedSeconds` (0 < s <= 3600) for the control plane's session
    // `sessionID`, makes the conversation's temporary folder and fetches the live credential.
    [[nodiscard]] QCoro::Task<Result<PreparedConversation>> prepare(
        QUuid sessionID, double requestedSeconds, ConversationMode mode);
    // Keeps a settled live turn; only while recording.
    [[nodiscard]] std::expected<void, SessionCoordinatorError> acceptLiveTurn(const SpeakerTurn& turn);
    // Seals the provisional review: the live turns accepted so far with the live findings, over
    // the recorded length; once per conversation, while recording. Live turns are still taken
    // afterwards, and a provisional review that stays takes those as well.
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> sealProvisional(
        AnalysisProviderResult live, double actualSeconds);
    // Turns the recorded file into the sealed review of the conversation. `actualSeconds`
    // may not exceed the reservation's maximum or 3600, whichever is lower.
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> finish(
        QUrl audioURL, QString mimeType, double actualSeconds);
    using FinishUnderWay = lumora::FinishUnderWay;
    // Gives the conversation up in any phase: cancels a stored reservation, removes the
    // folder and returns to idle. Never fails. The mark says `reservationOpen` before the cancel
    // is awaited and goes once it is answered; a discarded conversation's says `discarded` and
    // stays for whoever removes what the conversation left (its review, its backup record).
    QCoro::Task<void> abandon(FinishUnderWay finishing = FinishUnderWay::kept);
    // Back to idle after a completed conversation; removes no files.
    [[nodiscard]] std::expected<void, SessionCoordinatorError> resetAfterCompletion();

private:
    SessionCoordinator(std::shared_ptr<SessionAuthorizationProvider> authorization,
        std::shared_ptr<ProviderTokenSource> tokenSource,
        std::shared_ptr<FinalTranscriptionProvider> transcription, std::shared_ptr<AnalysisProvider> analysis,
        std::shared_ptr<ProviderUsageReporter> usage, std::shared_ptr<DerivedResultRepository> results,
        TemporaryConversationStore temporary, ConversationMarks marks, std::chrono::milliseconds retryDelay);

    // Removes the folder in `m_sessionDirectory` and forgets it; on failure it stays set so
    // that a later abandon tries again.
    [[nodiscard]] std::expected<void, TemporaryStoreFailure> cleanupTemporary();
    // The fields of an idle coordinator (the folder is left to `cleanupTemporary`).
    void returnToIdle();
    // Whether an abandon ran since the operation that took `generation` began.
    [[nodiscard]] bool abandonedSince(quint64 generation) const { return m_generation != generation; }
    // Whether an abandon since then discarded what the operation would save.
    [[nodiscard]] bool discardedSince(quint64 generation) const { return generation < m_discardedBefore; }
    // The conversation's mark once its reservation is `closed` (gone) or not (`reservationOpen`);
    // a failure to write it is logged.
    void settleMark(const QUuid& sessionID, const QUuid& reservationID, bool closed) const;
    void writeMark(const ConversationMarks::Mark& mark) const;

    // The sealed provisional review and the live findings it was made with.
    struct Provisional {
        AnalysisProviderResult live;
        DerivedSessionResult review;
    };
    struct FinishRun;
    // The final transcript of the recording, with its attempts and their waits; the last
    // failure when every attempt failed.
    [[nodiscard]] QCoro::Task<Result<DeepgramTranscript>> transcribeFinal(const FinishRun& run);
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> runFinish(FinishRun run);
    // Ends the finish with the provisional review in place of the final one, or fails it
    // without one.
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> keepProvisional(
        FinishRun run, SessionCoordinatorFailure failure);
    // Closes the reservation and removes the recording once `review` is sealed.
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> complete(
        FinishRun run, DerivedSessionResult review);
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> failFinish(
        FinishRun run, SessionCoordinatorFailure failure);

    SessionPhase m_phase = SessionPhase::idle;
    std::shared_ptr<SessionAuthorizationProvider> m_authorization;
    std::shared_ptr<ProviderTokenSource> m_tokenSource;
    std::shared_ptr<FinalTranscriptionProvider> m_transcription;
    std::shared_ptr<AnalysisProvider> m_analysis;
    std::shared_ptr<ProviderUsageReporter> m_usage;
    std::shared_ptr<DerivedResultRepository> m_results;
    TemporaryConversationStore m_temporary;
    ConversationMarks m_marks;
    std::chrono::milliseconds m_retryDelay;
    std::optional<UsageReservation> m_reservation;
    std::optional<QUuid> m_sessionID;
    std::optional<QString> m_sessionDirectory;
    QList<SpeakerTurn> m_turns;
    std::optional<Provisional> m_provisional;
    ConversationMode m_mode = ConversationMode::conversation;
    // Counts abandons, so that a waiting operation knows the fields are no longer its own.
    quint64 m_generation = 0;
    // Finishes that began in an earlier generation save nothing.
    quint64 m_discardedBefore = 0;
};

} // namespace lumora
