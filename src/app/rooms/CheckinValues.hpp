#pragma once

#include "domain/CheckinFlow.hpp"
#include "domain/CheckinPack.hpp"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// One section of the open check-in as QML reads it: its heading, suggested minutes and
// prompts, each prompt's source beside it (empty when it has none).
class CheckinSectionValue {
    Q_GADGET
    QML_VALUE_TYPE(checkinSection)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(int suggestedMinutes MEMBER suggestedMinutes)
    Q_PROPERTY(QStringList prompts MEMBER prompts)
    Q_PROPERTY(QStringList promptSources MEMBER promptSources)

public:
    QString title;
    int suggestedMinutes = 0;
    QStringList prompts;
    QStringList promptSources;

    static CheckinSectionValue of(const CheckinSection& section);
    bool operator==(const CheckinSectionValue&) const = default;
};

// The open check-in's pack, read whole: `isOpen` false while none is open. An absent note is
// empty; `sections` holds one `checkinSection` per section in order.
class CheckinPackValue {
    Q_GADGET
    QML_VALUE_TYPE(checkinPack)
    Q_PROPERTY(bool isOpen MEMBER isOpen)
    Q_PROPERTY(QString week MEMBER week)
    Q_PROPERTY(QString note MEMBER note)
    Q_PROPERTY(QVariantList sections MEMBER sections)

public:
    bool isOpen = false;
    QString week;
    QString note;
    QVariantList sections;

    static CheckinPackValue of(const std::optional<CheckinPack>& pack);
    bool operator==(const CheckinPackValue&) const = default;
};

// The check-in room's cursor, read whole: `isSet` false while there is none.
class CheckinFlowValue {
    Q_GADGET
    QML_VALUE_TYPE(checkinFlow)
    Q_PROPERTY(bool isSet MEMBER isSet)
    Q_PROPERTY(int sectionCount MEMBER sectionCount)
    Q_PROPERTY(int index MEMBER index)
    Q_PROPERTY(double sectionOpenedAtElapsed MEMBER sectionOpenedAtElapsed)

public:
    bool isSet = false;
    int sectionCount = 0;
    int index = 0;
    double sectionOpenedAtElapsed = 0;

    static CheckinFlowValue of(const std::optional<CheckinFlow>& flow);
    bool operator==(const CheckinFlowValue&) const = default;
};

} // namespace lumora
