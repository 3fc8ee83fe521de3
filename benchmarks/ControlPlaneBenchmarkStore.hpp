#pragma once

// A control-plane database of the benchmarks' own on SQLite in a folder that goes with it, and
// devices signed in to it as the development sign-in does.
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/SignInStartStore.hpp"

#include <QTemporaryDir>

namespace lumora::benchmarks {

struct ControlPlaneBenchmarkStore {
    static constexpr qint64 now = 1'800'000'000;

    QTemporaryDir folder;
    std::unique_ptr<ControlPlaneStore> store;

    ControlPlaneBenchmarkStore()
    {
        auto opened = ControlPlaneStore::open("sqlite:" + folder.filePath("control-plane.sqlite"));
        if (!opened)
            qFatal("%s", qPrintable(opened.error()));
        store = std::move(*opened);
    }

    // A new account `name` with a device of `publicKey`.
    DeviceRecord signIn(const QString& name, const QString& publicKey)
    {
        const QUuid request = QUuid::createUuid();
        SignInStartStore(*store, SignInLimits::unbounded(), 600)
            .add({ { { request, publicKey, "linux", now, std::nullopt, std::nullopt, false, {}, false, {} },
                {} } });
        const QString ticket = "ticket-" + request.toString();
        store->issueTicket(request, ticket, name, now);
        return store->redeemTicket(ticket, now).value();
    }
};

} // namespace lumora::benchmarks
