#pragma once

#include "display/DateTexts.hpp"
#include "domain/ConversationPresentation.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// One of the newest reviews in a seat's trend card: its date and the seat's share of the talk.
struct PersonTrendRow {
    Q_GADGET
    QML_VALUE_TYPE(personTrendRow)
    Q_PROPERTY(QString date MEMBER date CONSTANT)
    // The part of the bar the share fills, 0 to 1.
    Q_PROPERTY(double share MEMBER share CONSTANT)
    Q_PROPERTY(QString percent MEMBER percent CONSTANT)

public:
    QString date;
    double share = 0;
    QString percent;

    bool operator==(const PersonTrendRow&) const = default;
};

// How one seat fared over every review stored on this computer: in how many it spoke, its
// average share of the talk, its ratio of warm to hard moments, and its share in each of the
// five newest. A seat is matched by the exact speaker index (0 left, 1 right), never by the
// index's remainder.
struct PersonTrend {
    Q_GADGET
    QML_VALUE_TYPE(personTrend)
    // "N conversations · avg share P% · warm : hard R".
    Q_PROPERTY(QString line MEMBER line CONSTANT)
    Q_PROPERTY(QList<lumora::PersonTrendRow> rows MEMBER rows CONSTANT)

public:
    QString line;
    QList<PersonTrendRow> rows;

    bool operator==(const PersonTrend&) const = default;

    static PersonTrend of(int side, const QList<DerivedSessionResult>& results, const DateTexts& dates);

    // The seat's first stats entry of each review that has one, in order.
    static QList<SpeakerStats> stats(int side, const QList<DerivedSessionResult>& results);
    // The mean share as a whole percentage, truncated toward zero; 0 without stats. Shares come
    // from files and the account: one that is not a number counts as 0, the others are held to
    // 0...1.
    static qint64 averageShare(const QList<SpeakerStats>& stats);
    static ConversationPresentation::WarmHard tally(int side, const QList<DerivedSessionResult>& results);
    // "—" with nothing at all, "∞:1" with no hard moment, else warm ÷ hard to one decimal.
    static QString ratio(ConversationPresentation::WarmHard tally);
};

} // namespace lumora
