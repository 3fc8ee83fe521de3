#include "domain/PairingCode.hpp"

#include <QList>
#include <QTextBoundaryFinder>

namespace lumora {

namespace {

// The user-perceived characters of `text`, in order.
QList<QStringView> characters(QStringView text)
{
    QList<QStringView> result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        result.append(text.sliced(start, end - start));
        start = end;
    }
    return result;
}

// A character counts as a letter or number by the properties of its first code point, so
// combining marks never make a character of their own once they follow a base letter.
bool isLetterOrNumber(QStringView character)
{
    return QChar::isLetterOrNumber(character.toUcs4().value(0));
}

QStringView readAlike(QStringView character)
{
    if (character == u"I" || character == u"L")
        return u"1";
    if (character == u"O")
        return u"0";
    return character;
}

} // namespace

std::optional<QString> PairingCode::normalize(QStringView text)
{
    const QString upper = text.toString().toUpper();
    QString code;
    qsizetype count = 0;
    bool onlyAlphabet = true;
    for (QStringView character : characters(upper)) {
        if (!isLetterOrNumber(character))
            continue;
        const QStringView kept = readAlike(character);
        ++count;
        onlyAlphabet = onlyAlphabet && kept.size() == 1 && alphabet.contains(kept.front());
        code.append(kept);
    }
    if (count != length || !onlyAlphabet)
        return std::nullopt;
    return code;
}

QString PairingCode::formatted(const QString& code)
{
    const QList<QStringView> parts = characters(code);
    if (parts.size() != length)
        return code;
    QString result;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i == 4 || i == 8)
            result.append(u'-');
        result.append(parts[i]);
    }
    return result;
}

} // namespace lumora
