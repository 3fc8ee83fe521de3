#include "viewmodel/DesktopBrowser.hpp"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <qcoro/qcorosignal.h>

namespace lumora {

QCoro::Task<bool> DesktopBrowser::open(QUrl page, QString program, std::chrono::milliseconds watch)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        co_return false;
    // The application holds the opener while it runs; a browser it runs in the foreground is
    // left running.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, { page.toString(QUrl::FullyEncoded) });
    // An opener that cannot start never finishes: the wait ends with `watch`.
    const auto ended = co_await qCoro(process, &QProcess::finished, watch);
    if (!ended) {
        const bool running = process->state() != QProcess::NotRunning;
        if (running)
            QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        else
            process->deleteLater();
        co_return running;
    }
    process->deleteLater();
    const bool succeeded = std::get<1>(*ended) == QProcess::NormalExit && std::get<0>(*ended) == 0;
    co_return succeeded;
}

} // namespace lumora
