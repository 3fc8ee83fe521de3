#pragma once

#include <QAudioDevice>
#include <QByteArray>
#include <optional>

namespace lumora {

// The microphone the desktop records from. Qt lists the sound server's sources but reports
// the first of them as the default, so the server is asked for its default source and the
// device with that id is taken; the first listed only when the server names none Qt lists.
struct DefaultAudioInput {
    static std::optional<QAudioDevice> find();
    // The sound server's default source name (empty when it names none); nothing when no server
    // answers within two seconds.
    static std::optional<QByteArray> askSoundServer();
    // The same, empty when the server cannot be asked.
    static QByteArray soundServerDefaultSource();
};

} // namespace lumora
