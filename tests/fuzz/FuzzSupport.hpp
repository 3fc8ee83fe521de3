#pragma once

#include "domain/JsonObjectReader.hpp"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

// What every fuzz target shares: the input as Qt bytes, quiet Qt logging and the one way a
// broken property ends the run (libFuzzer then keeps the input as a crash).
namespace lumora::fuzzing {

inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

[[noreturn]] inline void broken(const char* property, const QByteArray& detail = {})
{
    std::fprintf(stderr, "\nproperty broken: %s\n%s\n", property, detail.constData());
    std::fflush(stderr);
    std::abort();
}

inline void require(bool holds, const char* property, const QByteArray& detail = {})
{
    if (!holds)
        broken(property, detail);
}

// Warnings about refused input are expected by the million; fatal messages still end the run.
inline void quietQtMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            broken("Qt fatal message", message.toUtf8());
    });
}

// A private folder for the files a target writes on every run, removed when the process
// exits. In memory when the system offers it: a disk's sync per run would slow the fuzzer
// down a hundredfold.
inline QString scratchFolder()
{
    static const QString folder = [] {
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        const QString parent = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
        QByteArray path = QFile::encodeName(parent + QStringLiteral("/lumora-fuzz-XXXXXX"));
        if (::mkdtemp(path.data()) == nullptr)
            broken("cannot make a scratch folder", path);
        static std::string made = path.toStdString();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return QFile::decodeName(path);
    }();
    return folder;
}

inline QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A decoded record must write JSON that reads back and then writes exactly the same again:
// anything a reader accepts can be stored and read once more. Returns the first writing.
template <typename T, typename Decode>
QByteArray requireRereadable(const T& record, Decode decode, const char* what)
{
    const QByteArray written = compact(record.toJson());
    const std::expected<T, typename decltype(decode(written))::error_type> again = decode(written);
    if (!again)
        broken(what, written + "\n" + again.error().message.toUtf8());
    const QByteArray rewritten = compact(again->toJson());
    require(rewritten == written, what, written + "\n" + rewritten);
    return written;
}

// One target for several records: the input's first byte picks the record type, so that one
// corpus grows inputs for all of them; the rest is its JSON. Whatever decodes must be rereadable.
template <typename... Records>
int requireRecordsRereadable(
    const std::uint8_t* data, std::size_t size, const std::array<const char*, sizeof...(Records)>& what)
{
    if (size == 0)
        return 0;
    const QByteArray json = bytesOf(data + 1, size - 1);
    const std::size_t picked = data[0] % sizeof...(Records);
    std::size_t index = 0;
    const auto attempt = [&]<typename Record>() {
        if (index++ != picked)
            return;
        if (const auto record = decodeJson<Record>(json))
            requireRereadable(*record, decodeJson<Record>, what[picked]);
    };
    (attempt.template operator()<Records>(), ...);
    return 0;
}

} // namespace lumora::fuzzing

#define LUMORA_FUZZ_QUIET_INITIALIZE                                                                         \
    extern "C" int LLVMFuzzerInitialize(int*, char***)                                                       \
    {                                                                                                        \
        ::lumora::fuzzing::quietQtMessages();                                                                \
        return 0;                                                                                            \
    }
