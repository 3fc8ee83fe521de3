#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Which step card the setup sheet shows, and its texts, from the view model's state.
class SetupPresenter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool recordingAgreementAccepted MEMBER m_agreementAccepted NOTIFY inputsChanged)
    Q_PROPERTY(bool configurationAvailable MEMBER m_configurationAvailable NOTIFY inputsChanged)
    Q_PROPERTY(bool isSignedIn MEMBER m_signedIn NOTIFY inputsChanged)
    Q_PROPERTY(bool isBusy MEMBER m_busy NOTIFY inputsChanged)
    Q_PROPERTY(bool isAppleAuthorizationActive MEMBER m_authorizationActive NOTIFY inputsChanged)
    Q_PROPERTY(bool hasError MEMBER m_hasError NOTIFY inputsChanged)
    Q_PROPERTY(bool hasSignInAddress MEMBER m_hasSignInAddress NOTIFY inputsChanged)
    Q_PROPERTY(Card card READ card NOTIFY inputsChanged)
    Q_PROPERTY(QString symbol READ symbol NOTIFY inputsChanged)
    Q_PROPERTY(QString title READ title NOTIFY inputsChanged)
    Q_PROPERTY(QString detail READ detail NOTIFY inputsChanged)
    Q_PROPERTY(bool signInEnabled READ signInEnabled NOTIFY inputsChanged)
    Q_PROPERTY(bool showsBrowserHint READ showsBrowserHint NOTIFY inputsChanged)

public:
    enum Card { Consent, ReleaseSetup, Ready, SignIn };
    Q_ENUM(Card)

    using QObject::QObject;

    // The first that holds: no agreement -> consent; no control-plane address -> release
    // setup; signed in -> ready; otherwise sign-in.
    static Card chooseCard(bool agreementAccepted, bool configurationAvailable, bool signedIn);
    static QString symbol(Card card);
    static QString title(Card card);
    static QString detail(Card card);

    [[nodiscard]] Card card() const
    {
        return chooseCard(m_agreementAccepted, m_configurationAvailable, m_signedIn);
    }
    [[nodiscard]] QString symbol() const { return symbol(card()); }
    [[nodiscard]] QString title() const { return title(card()); }
    [[nodiscard]] QString detail() const { return detail(card()); }
    // Either a running account operation or an open browser attempt disables the sign-in.
    [[nodiscard]] bool signInEnabled() const { return !m_busy && !m_authorizationActive; }
    // The hint that the browser opens and returns here holds only while nothing went otherwise:
    // it gives way to an error (a browser that could not be opened, a server that offers no
    // sign-in, too many attempts) and to the address to open by hand.
    [[nodiscard]] bool showsBrowserHint() const
    {
        return card() == SignIn && !m_hasError && !m_hasSignInAddress;
    }

signals:
    void inputsChanged();

private:
    bool m_agreementAccepted = false;
    bool m_configurationAvailable = false;
    bool m_signedIn = false;
    bool m_busy = false;
    bool m_authorizationActive = false;
    bool m_hasError = false;
    bool m_hasSignInAddress = false;
};

} // namespace lumora
