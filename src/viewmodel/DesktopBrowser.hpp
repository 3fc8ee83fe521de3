#pragma once

#include <QString>
#include <QUrl>
#include <chrono>
#include <qcoro/qcorotask.h>

namespace lumora {

// Opens a web page with the desktop's opener program (xdg-open): false when the program cannot
// be started or, within `watch`, ends with a failure, as a browser that refuses to run does
// (chromium as root without its sandbox). A program still running after `watch` is taken as
// the browser showing the page; it is left to run and never stopped by the application.
struct DesktopBrowser {
    static QCoro::Task<bool> open(QUrl page, QString program = QStringLiteral("xdg-open"),
        std::chrono::milliseconds watch = std::chrono::seconds(5));
};

} // namespace lumora
