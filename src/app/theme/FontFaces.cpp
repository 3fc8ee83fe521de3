#include "FontFaces.hpp"

#include <QStringList>

namespace lumora {

namespace {

QFont face(const char* family, qreal pointSize, QFont::Weight weight)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(qRound(pointSize));
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

} // namespace

QFont::Weight FontFaces::displayFaceWeight(QFont::Weight weight)
{
    if (weight >= QFont::DemiBold)
        return QFont::DemiBold;
    if (weight == QFont::Medium)
        return QFont::Medium;
    return QFont::Normal;
}

QFont::Weight FontFaces::interfaceFaceWeight(QFont::Weight weight)
{
    if (weight >= QFont::Bold)
        return QFont::Bold;
    if (weight == QFont::DemiBold)
        return QFont::DemiBold;
    if (weight == QFont::Medium)
        return QFont::Medium;
    return QFont::Normal;
}

namespace {

QString styleName(QFont::Weight faceWeight)
{
    switch (faceWeight) {
    case QFont::Bold:
        return QStringLiteral("Bold");
    case QFont::DemiBold:
        return QStringLiteral("SemiBold");
    case QFont::Medium:
        return QStringLiteral("Medium");
    default:
        return QStringLiteral("Regular");
    }
}

} // namespace

QString FontFaces::displayFace(QFont::Weight weight)
{
    return QStringLiteral("PlayfairDisplay-") + styleName(displayFaceWeight(weight));
}

QString FontFaces::interfaceFace(QFont::Weight weight)
{
    return QStringLiteral("Manrope-") + styleName(interfaceFaceWeight(weight));
}

QFont FontFaces::display(qreal pointSize, QFont::Weight weight)
{
    return face(displayFamily, pointSize, displayFaceWeight(weight));
}

QFont FontFaces::interface(qreal pointSize, QFont::Weight weight)
{
    return face(interfaceFamily, pointSize, interfaceFaceWeight(weight));
}

QFont FontFaces::tabular(qreal pointSize, QFont::Weight weight)
{
    QFont font = face(tabularFamily, pointSize, interfaceFaceWeight(weight));
    font.setFamilies(QStringList { QLatin1String(tabularFamily), QLatin1String(interfaceFamily) });
    return font;
}

} // namespace lumora
