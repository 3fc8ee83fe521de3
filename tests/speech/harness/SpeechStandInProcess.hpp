#pragma once

#include "ServerProcess.hpp"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace lumora::testing {

// The real lumora-speech-standin with a speech token secret of its own (unless the arguments
// name one) and a frame log in its folder, with at most `descriptorLimit` open files when that
// is given.
class SpeechStandInProcess : public ServerProcess {
public:
    explicit SpeechStandInProcess(QStringList arguments, int descriptorLimit = 0);

    [[nodiscard]] QString secretPath() const { return filePath("speech.secret"); }
    // A token for the reservation, valid for `lifetime` seconds from now (negative: expired).
    [[nodiscard]] QString token(std::int64_t lifetime = 300, const QString& secret = {}) const;
    // The frame log's lines so far: "<connection> binary <bytes> <first> <last>",
    // "<connection> text <text>", "<connection> close <code>", "<connection> closed 1000", ...
    [[nodiscard]] QStringList frames() const;

    // Writes `text` to a file in the process's folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& text) const;

    static constexpr const char* secret = "the speech stand-in's test secret, long enough";
};

// Makes an AAC .m4a of a tone lasting `seconds` with ffmpeg; false when it could not.
bool makeM4a(const QString& path, double seconds);

} // namespace lumora::testing
