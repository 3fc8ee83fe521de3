#include "speech/LiveTranscriber.hpp"

#include "speech/ProviderReplies.hpp"

namespace lumora {

LiveTranscriber::LiveTranscriber(const SpeechScript& script, int sampleRate)
    : m_script(script)
    , m_sampleRate(sampleRate)
{
}

double LiveTranscriber::audioSeconds() const
{
    return double(samples()) / m_sampleRate;
}

std::vector<std::string> LiveTranscriber::addAudio(std::size_t bytes)
{
    m_bytes += bytes;
    const double now = audioSeconds();
    std::vector<std::string> messages;
    while (const auto utterance = m_script.utterance(m_next)) {
        if (utterance->end() <= now) {
            messages.push_back(providerreplies::liveResult(*utterance, utterance->words, true));
            ++m_next;
            m_interimWords = 0;
            continue;
        }
        qsizetype heard = 0;
        while (heard < utterance->words.size() && utterance->words.at(heard).end <= now)
            ++heard;
        if (heard > m_interimWords) {
            messages.push_back(
                providerreplies::liveResult(*utterance, utterance->words.mid(0, heard), false));
            m_interimWords = heard;
        }
        break;
    }
    return messages;
}

std::vector<std::string> LiveTranscriber::closeStream()
{
    const double now = audioSeconds();
    std::vector<std::string> messages;
    if (const auto utterance = m_script.utterance(m_next); utterance && utterance->start() < now) {
        QList<ScriptWord> begun;
        for (const ScriptWord& word : utterance->words) {
            if (word.start < now)
                begun.append(word);
        }
        messages.push_back(providerreplies::liveResult(*utterance, begun, true));
        ++m_next;
        m_interimWords = 0;
    }
    messages.push_back(providerreplies::liveMetadata(now));
    return messages;
}

} // namespace lumora
