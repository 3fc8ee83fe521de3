#pragma once

#include "speech/SpeechScript.hpp"

#include <QByteArray>
#include <QList>
#include <string>

// The speech provider's reply documents, in its own wire format, as the stand-in writes them.
namespace lumora::providerreplies {

// One live result message over the given words of an utterance.
std::string liveResult(const ScriptUtterance& utterance, const QList<ScriptWord>& words, bool isFinal);
// The message a live stream ends with after the client's close message.
std::string liveMetadata(double audioSeconds);
// The reply to a pre-recorded request: every word of the script that starts within the
// recording's duration.
std::string prerecorded(const SpeechScript& script, double durationSeconds);

} // namespace lumora::providerreplies
