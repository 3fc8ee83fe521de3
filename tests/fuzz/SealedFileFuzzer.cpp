// Opening a sealed file under a fixed key: the box is read from disk as it lies, and whatever
// opens is read as a review and as the backup state, as the stores do.
#include "FuzzSupport.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/FileSealer.hpp"
#include "security/AesGcm.hpp"

#include <QFile>

using namespace lumora;
using namespace lumora::fuzzing;

namespace {

const SymmetricKey& fixedKey()
{
    static const SymmetricKey key(SecretBytes(QByteArray(32, '\x2a')));
    return key;
}

QString sealedPath()
{
    return scratchFolder() + QStringLiteral("/sealed.lbs");
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
        "cannot write the file under test");
}

void readPlaintext(const QByteArray& plaintext)
{
    (void)decodeJson<DerivedSessionResult>(plaintext);
    (void)decodeJson<ConversationBackupStore::State>(plaintext);
}

} // namespace

LUMORA_FUZZ_QUIET_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest = bytesOf(data + 1, size - 1);
    const QString path = sealedPath();
    if (data[0] % 2 == 0) {
        // The rest is a file as found on disk.
        writeRaw(path, rest);
        const auto opened = FileSealer::readFile(path, fixedKey());
        if (opened) {
            require(rest.size() == opened->size() + AesGcm::overhead, "a box opened to the wrong length");
            readPlaintext(*opened);
        }
        return 0;
    }
    // The rest is a plaintext: sealed and opened again it must be unchanged, and with any one
    // byte of the box changed it must not open.
    const auto written = FileSealer::writeFile(path, fixedKey(), rest);
    require(written.has_value(), "sealing failed");
    const auto opened = FileSealer::readFile(path, fixedKey());
    require(opened.has_value() && *opened == rest, "a sealed file does not open to its plaintext");
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), "cannot read the sealed file");
    QByteArray box = file.readAll();
    file.close();
    box[qsizetype(rest.size() % box.size())] ^= 0x01;
    writeRaw(path, box);
    require(!FileSealer::readFile(path, fixedKey()).has_value(), "a changed box still opens");
    readPlaintext(rest);
    return 0;
}
