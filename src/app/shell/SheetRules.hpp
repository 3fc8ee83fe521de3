#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// When the setup sheet and the migration offer open and close. The migration offer never
// opens while the setup sheet shows; it waits until that sheet closes. Changes of the inputs
// count only after `appear()`.
class SheetRules : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool recordingAgreementAccepted READ recordingAgreementAccepted WRITE
            setRecordingAgreementAccepted NOTIFY recordingAgreementAcceptedChanged)
    Q_PROPERTY(bool needsMigrationOffer READ needsMigrationOffer WRITE setNeedsMigrationOffer NOTIFY
            needsMigrationOfferChanged)
    Q_PROPERTY(bool showSetup READ showSetup WRITE setShowSetup NOTIFY showSetupChanged)
    Q_PROPERTY(bool showMigrationOffer READ showMigrationOffer WRITE setShowMigrationOffer NOTIFY
            showMigrationOfferChanged)

public:
    using QObject::QObject;

    [[nodiscard]] bool recordingAgreementAccepted() const { return m_agreementAccepted; }
    [[nodiscard]] bool needsMigrationOffer() const { return m_needsMigrationOffer; }
    [[nodiscard]] bool showSetup() const { return m_showSetup; }
    [[nodiscard]] bool showMigrationOffer() const { return m_showMigrationOffer; }

    // A withdrawn agreement opens the setup sheet.
    void setRecordingAgreementAccepted(bool accepted);
    // A change shows or hides the offer unless the setup sheet shows.
    void setNeedsMigrationOffer(bool needed);
    // Closing the setup sheet opens the offer when it is needed.
    void setShowSetup(bool show);
    void setShowMigrationOffer(bool show);

    // The root view appeared: a missing agreement opens the setup sheet, else a needed offer
    // opens.
    Q_INVOKABLE void appear();

signals:
    void recordingAgreementAcceptedChanged();
    void needsMigrationOfferChanged();
    void showSetupChanged();
    void showMigrationOfferChanged();

private:
    bool m_appeared = false;
    bool m_agreementAccepted = false;
    bool m_needsMigrationOffer = false;
    bool m_showSetup = false;
    bool m_showMigrationOffer = false;
};

} // namespace lumora
