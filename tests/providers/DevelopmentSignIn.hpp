#pragma once

#include "AwaitTask.hpp"
#include "ControlPlaneProcess.hpp"
#include "providers/ControlPlaneBootstrap.hpp"

#include <QUrlQuery>
#include <gtest/gtest.h>

namespace lumora::testing {

// The control plane's development sign-in for the device's key, as a person completes it in the
// browser: the page, the form sent as `name`, and the callback's ticket redeemed.
inline DeviceRegistration developmentSignIn(
    QNetworkAccessManager& manager, const QUrl& base, const DeviceIdentity& device, const QString& name)
{
    const QString state = ControlPlaneBootstrap::newState();
    const auto page
        = test::awaitTask(ControlPlaneBootstrap::beginWebAppleAuthorization(base, device, state, manager));
    EXPECT_TRUE(page.has_value());
    if (!page)
        return {};
    QUrlQuery form;
    form.addQueryItem("request", QUrlQuery(*page).queryItemValue("request"));
    form.addQueryItem("name", name);
    const auto submitted = sendRequest(manager, "POST", base.resolved(QUrl("/dev/sign-in")),
        form.toString(QUrl::FullyEncoded).toUtf8(),
        { { "Content-Type", "application/x-www-form-urlencoded" } });
    const QUrl callback(QString::fromLatin1(submitted.header("Location")));
    const auto registration = test::awaitTask(ControlPlaneBootstrap::completeWebAppleAuthorization(
        base, QUrlQuery(callback).queryItemValue("ticket"), state, device, manager));
    EXPECT_TRUE(registration.has_value());
    return registration.value_or(DeviceRegistration {});
}

} // namespace lumora::testing
