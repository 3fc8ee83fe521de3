#include "SpeechStandInProcess.hpp"
#include "common/Asio.hpp"
#include "speech/LiveTranscriber.hpp"
#include "speech/MediaDuration.hpp"
#include "speech/SpeechScript.hpp"
#include "speech/SpeechStandInOptions.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

const QByteArray twoUtterances = R"({"utterances":[
    {"speaker":1,"words":[{"word":"later","start":3.0,"end":3.5}]},
    {"speaker":0,"words":[{"word":"hello","punctuated_word":"Hello,","start":0.5,"end":1.0},
                          {"word":"there","start":1.5,"end":2.0}]}]})";

// "interim hello" / "final hello there" / "metadata": what one live message carries.
QString summary(const std::string& message)
{
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(message)).object();
    if (object.value("type") == "Metadata")
        return QStringLiteral("metadata");
    QStringList words;
    for (const QJsonValue word : object["channel"]["alternatives"][0]["words"].toArray())
        words.append(word["word"].toString());
    return (object.value("is_final").toBool() ? QStringLiteral("final ") : QStringLiteral("interim "))
        + words.join(u' ');
}

QStringList summaries(const std::vector<std::string>& messages)
{
    QStringList result;
    for (const std::string& message : messages)
        result.append(summary(message));
    return result;
}

TEST(LiveTranscriber, ReplaysTheScriptAgainstTheReceivedAudio)
{
    const auto script = SpeechScript::parse(twoUtterances);
    ASSERT_TRUE(script.has_value()) << script.error().toStdString();
    LiveTranscriber transcriber(*script, 16000);
    const std::size_t second = 32000; // bytes of 16-bit PCM at 16 kHz
    struct Step {
        std::size_t bytes;
        QStringList messages;
    };
    const Step steps[] = {
        { second / 2, {} },
        { second / 2, { "interim hello" } },
        { second / 2, {} },
        { second / 2, { "final hello there" } },
        { second + second / 4, {} },
        { 0, {} },
    };
    for (const Step& step : steps)
        EXPECT_EQ(summaries(transcriber.addAudio(step.bytes)), step.messages) << transcriber.audioSeconds();
    // The close finishes the utterance begun at 3.0 with the words heard so far.
    EXPECT_EQ(summaries(transcriber.closeStream()), (QStringList { "final later", "metadata" }));
    EXPECT_EQ(summaries(transcriber.closeStream()), QStringList { "metadata" });
}

TEST(LiveTranscriber, TheBuiltInScriptAlternatesSeatsAndRepeats)
{
    const SpeechScript script = SpeechScript::builtIn();
    const auto first = script.utterance(0);
    const auto second = script.utterance(1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->speaker, 0);
    EXPECT_EQ(second->speaker, 1);
    const auto again = script.utterance(6);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->words.first().word, first->words.first().word);
    EXPECT_GT(again->start(), script.utterance(5)->end());
}

TEST(SpeechScript, RefusesScriptsItCannotReplay)
{
    for (const char* bad : { "", "[]", R"({"utterances":{}})", R"({"utterances":[{"speaker":0,"words":[]}]})",
             R"({"utterances":[{"words":[{"word":"a","start":2,"end":1}]}]})",
             R"({"utterances":[{"words":[{"start":0,"end":1}]}]})" })
        EXPECT_FALSE(SpeechScript::parse(bad).has_value()) << bad;
    EXPECT_FALSE(SpeechScript::parse(R"({"utterances":[]})")->utterance(0).has_value());
}

TEST(MediaDuration, ReadsTheDurationOfARealRecording)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("recording.m4a");
    ASSERT_TRUE(testing::makeM4a(path, 2.5));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string bytes = file.readAll().toStdString();
    const auto duration = mediaDuration(bytes);
    ASSERT_TRUE(duration.has_value());
    EXPECT_NEAR(*duration, 2.5, 0.05);
    EXPECT_FALSE(mediaDuration("").has_value());
    EXPECT_FALSE(mediaDuration("this is not audio at all").has_value());
    EXPECT_FALSE(mediaDuration(std::string_view(bytes).substr(0, 40)).has_value());
}

TEST(SpeechStandInOptions, RefusesWhatItCannotServe)
{
    const QStringList secret { "--speech-token-secret", "s" };
    EXPECT_TRUE(SpeechStandInOptions::parse(secret).has_value());
    for (const QStringList& bad : QList<QStringList> { {}, secret + QStringList { "--listen", "0.0.0.0:1" },
             secret + QStringList { "--tls-cert", "a" }, secret + QStringList { "--refuse-handshake", "200" },
             secret + QStringList { "--prerecorded-reply", "418" },
             secret + QStringList { "--prerecorded-failures", "-1" },
             secret + QStringList { "--drop-after-frames" }, secret + QStringList { "--bogus", "1" } })
        EXPECT_FALSE(SpeechStandInOptions::parse(bad).has_value()) << bad.join(' ').toStdString();
}

TEST(SpeechStandInProcess, StartsAndStopsCleanly)
{
    testing::SpeechStandInProcess standIn({});
    ASSERT_TRUE(standIn.started());
    EXPECT_EQ(standIn.stop(), 0) << standIn.log().toStdString();
}

// Writes `bytes` to the server on 127.0.0.1 and reads until it closes (or ten seconds pass).
std::string exchange(const QUrl& base, const std::string& bytes)
{
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({ asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(base.port()) }, ec);
    const timeval patience { 10, 0 };
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    asio::write(socket, asio::buffer(bytes), ec);
    std::string reply;
    asio::read(socket, asio::dynamic_buffer(reply), ec);
    return reply;
}

// A recording is read only under a valid token: without one it is refused from the request's
// head, before a byte of it is sent.
TEST(SpeechStandInProcess, RefusesARecordingWithoutAValidTokenBeforeReadingIt)
{
    testing::SpeechStandInProcess standIn({});
    ASSERT_TRUE(standIn.started());
    const auto head = [](const QString& token) {
        return "POST /v1/listen?model=nova-3&diarize=true&smart_format=true&punctuate=true&utterances=true"
               "&mip_opt_out=true HTTP/1.1\r\nHost: x\r\nContent-Type: audio/mp4\r\nContent-Length: "
               "200000000\r\n"
               "Authorization: Bearer "
            + token.toStdString() + "\r\n\r\n";
    };
    for (const QString& token : { QStringLiteral("not-a-token"), standIn.token(-60),
             standIn.token(300, QStringLiteral("another secret of the same length, or so")) }) {
        const std::string reply = exchange(standIn.baseUrl(), head(token));
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 401")) << reply;
        EXPECT_NE(reply.find("INVALID_AUTH"), std::string::npos) << reply;
    }
    EXPECT_EQ(standIn.stop(), 0) << standIn.log().toStdString();
}

} // namespace
} // namespace lumora
