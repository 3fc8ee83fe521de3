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

bool RecordingAgreementStore::accept() const
{
    m_settings->setValue(m_key, currentVersion);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

bool RecordingAgreementStore::clear() const
{
    m_settings->remove(m_key);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

} // namespace lumora
