#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// The four sections of the window, in tab order, with their titles and header symbols.
class Sections : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QVariantList allCases READ allCases CONSTANT)

public:
    enum AppSection { Conversation, History, People, Account };
    Q_ENUM(AppSection)

    using QObject::QObject;

    static QVariantList allCases();
    // The raw value, also the tab title: "Conversation", "History", "People", "Account".
    Q_INVOKABLE static QString title(int section);
    Q_INVOKABLE static QString symbol(int section);
    // The section whose raw value is exactly `rawValue` (case-sensitive).
    static std::optional<AppSection> fromRawValue(const QString& rawValue);
    // The section a menu command or notification name asks for: "showLumoraConversation",
    // "showLumoraHistory" or "showLumoraPeople"; -1 for anything else.
    Q_INVOKABLE static int sectionForNotification(const QString& name);
};

} // namespace lumora
