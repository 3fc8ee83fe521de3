#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace lumora {

struct Sha256 {
    // The 32-byte digest.
    static QByteArray hash(QByteArrayView bytes);
};

} // namespace lumora
