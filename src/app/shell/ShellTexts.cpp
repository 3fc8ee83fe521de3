#include "ShellTexts.hpp"

namespace lumora {

QString ShellTexts::migrationIntroduction(qint64 count)
{
    if (count == 1)
        return QStringLiteral(
            "One conversation on this computer was recorded before your account had a history.");
    return QStringLiteral(
        "%1 conversations on this computer were recorded before your account had a history.")
        .arg(count);
}

} // namespace lumora
