#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdint>

namespace lumora::testing {

// The real lumora-speech-standin on 127.0.0.1 with a port of its choosing, a speech token
// secret of its own (unless the arguments name one) and a frame log, in a temporary folder
// that lives as long as this object.
class SpeechStandInProcess {
public:
    explicit SpeechStandInProcess(QStringList arguments);
    ~SpeechStandInProcess();
    SpeechStandInProcess(const SpeechStandInProcess&) = delete;
    SpeechStandInProcess& operator=(const SpeechStandInProcess&) = delete;

    [[nodiscard]] bool started() const { return m_baseUrl.isValid(); }
    [[nodiscard]] QUrl baseUrl() const { return m_baseUrl; }
    [[nodiscard]] QString secretPath() const { return m_dir.filePath("speech.secret"); }
    // A token for the reservation, valid for `lifetime` seconds from now (negative: expired).
    [[nodiscard]] QString token(std::int64_t lifetime = 300, const QString& secret = {}) const;
    // The frame log's lines so far: "<connection> binary <bytes> <first> <last>",
    // "<connection> text <text>", "<connection> close <code>", "<connection> closed 1000", ...
    [[nodiscard]] QStringList frames() const;
    // Sends SIGTERM and waits; the exit code, or -1 when it did not stop cleanly.
    int stop();
    QString log();

    // Writes `text` to a file in the process's folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& text) const;

    static constexpr const char* secret = "the speech stand-in's test secret, long enough";

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QUrl m_baseUrl;
    QString m_log;
};

// Makes an AAC .m4a of a tone lasting `seconds` with ffmpeg; false when it could not.
bool makeM4a(const QString& path, double seconds);

} // namespace lumora::testing
