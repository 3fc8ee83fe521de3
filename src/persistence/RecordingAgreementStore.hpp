#pragma once

#include <QString>

class QSettings;

namespace lumora {

// Remembers, by version, that the user accepted the recording agreement. An acceptance of
// an earlier version reads as not accepted.
class RecordingAgreementStore {
public:
    static constexpr int currentVersion = 2;
    static QString standardKey();

    RecordingAgreementStore(QSettings& settings, QString key)
        : m_settings(&settings)
        , m_key(std::move(key))
    {
    }

    [[nodiscard]] bool isAccepted() const;
    // Both write the preferences to disk at once, so an acceptance is never lost to a crash
    // that follows it; false when the preferences could not be written.
    [[nodiscard]] bool accept() const;
    [[nodiscard]] bool clear() const;

private:
    QSettings* m_settings;
    QString m_key;
};

} // namespace lumora
