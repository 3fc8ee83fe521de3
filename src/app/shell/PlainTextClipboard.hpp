#pragma once

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

namespace lumora {

// Replaces what the clipboard holds with `text` as plain text; false when there is no text.
inline bool copyPlainText(const QString& text)
{
    if (text.isEmpty())
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    return true;
}

} // namespace lumora
