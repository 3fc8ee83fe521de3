#include "SheetRules.hpp"

namespace lumora {

void SheetRules::appear()
{
    m_appeared = true;
    if (!m_agreementAccepted)
        setShowSetup(true);
    setShowMigrationOffer(m_needsMigrationOffer && !m_showSetup);
}

void SheetRules::setRecordingAgreementAccepted(bool accepted)
{
    if (m_agreementAccepted == accepted)
        return;
    m_agreementAccepted = accepted;
    emit recordingAgreementAcceptedChanged();
    if (m_appeared && !accepted)
        setShowSetup(true);
}

void SheetRules::setNeedsMigrationOffer(bool needed)
{
    if (m_needsMigrationOffer == needed)
        return;
    m_needsMigrationOffer = needed;
    emit needsMigrationOfferChanged();
    if (m_appeared)
        setShowMigrationOffer(needed && !m_showSetup);
}

void SheetRules::setShowSetup(bool show)
{
    if (m_showSetup == show)
        return;
    m_showSetup = show;
    emit showSetupChanged();
    if (!show)
        setShowMigrationOffer(m_needsMigrationOffer);
}

void SheetRules::setShowMigrationOffer(bool show)
{
    if (m_showMigrationOffer == show)
        return;
    m_showMigrationOffer = show;
    emit showMigrationOfferChanged();
}

} // namespace lumora
