#include "persistence/RecordingAgreementStore.hpp"

#include <QSettings>

namespace lumora {

QString RecordingAgreementStore::standardKey()
{
    return QStringLiteral("lumora.recordingAgreementVersion");
}

bool RecordingAgreementStore::isAccepted() const
{
    // Absent or unreadable values count as 0.
    return m_settings->value(m_key).toInt() >= currentVersion;
}

void RecordingAgreementStore::accept() const
{
    m_settings->setValue(m_key, currentVersion);
}

void RecordingAgreementStore::clear() const
{
    m_settings->remove(m_key);
}

} // namespace lumora
