#pragma once

#include <QJsonObject>
#include <QString>

namespace lumora::storeddocument {

// The member of a stored JSON document that names the version of its form. Files without it
// come from before it was written and have the first form.
QString formatVersionKey();
// The document's form; 1 when it says none.
int formatVersion(const QJsonObject& document);

// The members of a document read from a file that this version does not know: those missing
// from `known`, the same content written back by this version, except the format version.
// They are put back when the file is rewritten, so a newer version's fields survive an edit
// made by this one.
QJsonObject unknownMembers(const QJsonObject& read, const QJsonObject& known);
// Adds each member of `kept` that `document` does not have.
void keepMembers(QJsonObject& document, const QJsonObject& kept);

} // namespace lumora::storeddocument
