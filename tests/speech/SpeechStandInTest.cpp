#include "ControlPlaneProcess.hpp"
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
#include <atomic>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <gtest/gtest.h>
#include <thread>

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

// A live stream to the stand-in on 127.0.0.1 over TLS from `source`, opened with `token` as the
// speech client opens one (its handshake given 30 s at most).
class LiveStream {
public:
    LiveStream(const QUrl& base, const char* source, const QString& token, boost::asio::ssl::context& tls)
        : m_stream(m_io, tls)
    {
        m_response.result(boost::beast::http::status::unknown);
        namespace asio = boost::asio;
        namespace websocket = boost::beast::websocket;
        auto& socket = boost::beast::get_lowest_layer(m_stream);
        boost::system::error_code ec;
        socket.open(asio::ip::tcp::v4(), ec);
        socket.bind({ asio::ip::make_address(source), 0 }, ec);
        socket.connect({ asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(base.port()) }, ec);
        const std::string authorization = "Bearer " + token.toStdString();
        m_stream.set_option(
            websocket::stream_base::decorator([authorization](websocket::request_type& request) {
                request.set("Authorization", authorization);
            }));
        m_stream.next_layer().async_handshake(
            asio::ssl::stream_base::client, [this](const boost::system::error_code& failed) {
                if (!failed)
                    m_stream.async_handshake(m_response, "127.0.0.1",
                        "/v1/listen?model=nova-3&encoding=linear16&sample_rate=16000&channels=1&diarize=true"
                        "&smart_format=true&interim_results=true&punctuate=true&mip_opt_out=true",
                        [](const boost::system::error_code&) {});
            });
        m_io.run_for(std::chrono::seconds(30));
    }

    // The status its handshake was answered with: 101 when it is open, 0 when it was not answered.
    [[nodiscard]] int status() const { return m_response.result_int(); }

    // Sends `bytes` of audio in one binary frame (by default a hundredth of a second); false when
    // the stream is gone.
    bool sendAudio(std::size_t bytes = 320)
    {
        boost::system::error_code ec;
        m_stream.binary(true);
        m_stream.write(boost::asio::buffer(std::string(bytes, '\0')), ec);
        return !ec;
    }
    // Reads what the stand-in sends until it ends the stream: true when it does within `patience`.
    bool endsWithin(std::chrono::seconds patience)
    {
        auto ended = std::make_shared<bool>(false);
        readUntilEnd(ended);
        m_io.restart();
        m_io.run_for(patience);
        return *ended;
    }
    // Closes the stream normally: true when the stand-in still held it open and answered.
    bool close()
    {
        boost::system::error_code ec;
        m_stream.close(boost::beast::websocket::close_code::normal, ec);
        return !ec;
    }

private:
    void readUntilEnd(const std::shared_ptr<bool>& ended)
    {
        m_stream.async_read(m_received, [this, ended](const boost::system::error_code& failed, std::size_t) {
            m_received.clear();
            if (failed)
                *ended = true;
            else
                readUntilEnd(ended);
        });
    }

    boost::asio::io_context m_io;
    boost::beast::flat_buffer m_received;
    boost::beast::websocket::stream<boost::asio::ssl::stream<boost::asio::ip::tcp::socket>> m_stream;
    boost::beast::websocket::response_type m_response;
};

// The stand-in over TLS, and a client's TLS context that trusts it.
struct TlsStandIn {
    explicit TlsStandIn(const QStringList& arguments = {}, int descriptorLimit = 0)
        : standIn(QStringList { "--tls-cert", certificates.serverCertificate(), "--tls-key",
                      certificates.serverKey() }
                + arguments,
            descriptorLimit)
    {
        tls.load_verify_file(certificates.caCertificate().toStdString());
        tls.set_verify_mode(boost::asio::ssl::verify_peer);
    }

    [[nodiscard]] bool started() const { return certificates.valid() && standIn.started(); }

    const testing::TestCertificates certificates;
    boost::asio::ssl::context tls { boost::asio::ssl::context::tls_client };
    testing::SpeechStandInProcess standIn;
};

// 256 descriptors leave the stand-in room for 192 connections, 16 from one address (it holds
// some 60 descriptors of its own); its streams make way after 1.5 s without audio.
const QStringList silentAfterASecondAndAHalf { "--silent-stream-ms", "1500" };
constexpr int descriptorsFor192Connections = 256;

// Feeds a stream with a frame of `bytes` every 10 ms, on a thread of its own, until stopped or cut.
class Talker {
public:
    Talker(LiveStream& stream, std::size_t bytes)
        : m_thread([this, &stream, bytes] {
            while (!m_done && !m_cut) {
                m_cut = !stream.sendAudio(bytes);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        })
    {
    }
    ~Talker() { stop(); }
    Talker(const Talker&) = delete;
    Talker& operator=(const Talker&) = delete;

    // Stops it: false when the stream was cut meanwhile.
    bool stop()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
        return !m_cut;
    }

private:
    std::atomic<bool> m_done { false };
    std::atomic<bool> m_cut { false };
    std::thread m_thread;
};

// A stream of another account from 127.0.0.2, fed a frame of `bytes` every 10 ms.
struct TalkingStream {
    TalkingStream(TlsStandIn& server, std::size_t bytes)
        : stream(server.standIn.baseUrl(), "127.0.0.2", server.standIn.token(), server.tls)
        , talker(stream, bytes)
    {
    }

    LiveStream stream;
    Talker talker;
};

// Streams of a token each that fill the stand-in beside one other (191, 15 from each address from
// 127.0.0.4 on), each once it has sent a first frame of `firstFrame` bytes.
std::vector<std::unique_ptr<LiveStream>> fillWithStreams(TlsStandIn& server, std::size_t firstFrame)
{
    std::vector<std::unique_ptr<LiveStream>> streams;
    for (int i = 0; i < 191; ++i) {
        const std::string source = "127.0.0." + std::to_string(4 + i / 15);
        streams.push_back(std::make_unique<LiveStream>(
            server.standIn.baseUrl(), source.c_str(), server.standIn.token(), server.tls));
        streams.back()->sendAudio(firstFrame);
    }
    return streams;
}

// One token opens two streams at once, and a stream that has sent no audio for a while makes way
// when the stand-in holds all the connections it may: silent streams, of one token or of one
// each, never keep another account's stream out, nor cut one that sends audio.
TEST(SpeechStandInProcess, OneTokenCannotFillTheStandInAndSilentStreamsMakeWay)
{
    TlsStandIn server(silentAfterASecondAndAHalf, descriptorsFor192Connections);
    ASSERT_TRUE(server.started());
    auto& tls = server.tls;
    auto& standIn = server.standIn;
    TalkingStream talking(server, 320);
    ASSERT_EQ(talking.stream.status(), 101);

    std::vector<std::unique_ptr<LiveStream>> idle;
    const QString shared = standIn.token();
    for (int i = 0; i < 3; ++i)
        idle.push_back(std::make_unique<LiveStream>(standIn.baseUrl(), "127.0.0.3", shared, tls));
    EXPECT_EQ(idle[2]->status(), 101);
    EXPECT_TRUE(idle[0]->endsWithin(std::chrono::seconds(10))) << "one token's third stream ends its oldest";
    // Streams of tokens of their own fill the stand-in, each silent after its first audio.
    idle.clear();
    idle = fillWithStreams(server, 320);
    LiveStream another(standIn.baseUrl(), "127.0.0.20", standIn.token(), tls);
    EXPECT_EQ(another.status(), 101) << "another account's stream opens";

    EXPECT_TRUE(talking.talker.stop()) << "the stream that sends audio is never cut";
    EXPECT_TRUE(talking.stream.close());
    idle.clear();
    EXPECT_EQ(standIn.stop(), 0) << standIn.log().toStdString();
}

// A stream makes way by the samples it sends, not by its frames: frames without a whole sample
// (empty ones, or a byte short of one) keep no place, while a stream whose samples come a byte a
// frame keeps its own.
TEST(SpeechStandInProcess, StreamsSendingNoSamplesMakeWayForAnotherAccount)
{
    TlsStandIn server(silentAfterASecondAndAHalf, descriptorsFor192Connections);
    ASSERT_TRUE(server.started());
    auto& tls = server.tls;
    auto& standIn = server.standIn;
    TalkingStream talking(server, 1);
    ASSERT_EQ(talking.stream.status(), 101);

    // A crowd of a token each fills the stand-in: a byte short of a sample, then empty frames more
    // often than a stream may stay silent.
    const auto crowd = fillWithStreams(server, 1);
    std::atomic<bool> done { false };
    std::atomic<int> rounds { 0 };
    std::thread feeder([&] {
        while (!done) {
            for (const auto& stream : crowd)
                stream->sendAudio(0);
            ++rounds;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    while (rounds < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    LiveStream another(standIn.baseUrl(), "127.0.0.20", standIn.token(), tls);
    EXPECT_EQ(another.status(), 101) << "another account's stream opens beside streams that send no samples";

    done = true;
    feeder.join();
    EXPECT_TRUE(talking.talker.stop()) << "the stream whose samples come a byte a frame is never cut";
    EXPECT_TRUE(talking.stream.close());
    EXPECT_EQ(standIn.stop(), 0) << standIn.log().toStdString();
}

// The tokens of a reservation hold two streams at once, and a third takes the place of the oldest
// (a client whose connection broke and who opens again is never locked out): the oldest is ended,
// the other goes on.
TEST(SpeechStandInProcess, AReservationsThirdStreamTakesTheOldestsPlace)
{
    TlsStandIn server;
    ASSERT_TRUE(server.started());
    auto& standIn = server.standIn;
    const QString token = standIn.token();
    LiveStream oldest(standIn.baseUrl(), "127.0.0.2", token, server.tls);
    LiveStream older(standIn.baseUrl(), "127.0.0.2", token, server.tls);
    ASSERT_EQ(oldest.status(), 101);
    ASSERT_EQ(older.status(), 101);
    LiveStream third(standIn.baseUrl(), "127.0.0.3", token, server.tls);
    ASSERT_EQ(third.status(), 101) << "the third stream opens";
    EXPECT_TRUE(oldest.endsWithin(std::chrono::seconds(10))) << "the oldest is ended";
    EXPECT_TRUE(older.sendAudio());
    EXPECT_TRUE(third.sendAudio());
    EXPECT_TRUE(older.close()) << "the other stream goes on";
    EXPECT_TRUE(third.close());
    EXPECT_EQ(standIn.stop(), 0) << standIn.log().toStdString();
}

} // namespace
} // namespace lumora
