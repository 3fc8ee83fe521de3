// Headers that nearly every file of ours includes, parsed once per target instead of once per
// file: the standard library's and, where the target sees them, QtCore's and QCoro's. Parsing
// these took most of each file's compile time.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if __has_include(<QString>)
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>
#endif

#if __has_include(<QCoroTask>)
#include <QCoroTask>
#endif
