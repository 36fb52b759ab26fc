#include "test_util.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <sys/stat.h>
#include <cstdio>

namespace testutil {

TempDir::~TempDir() {
    if (!::testing::Test::HasFailure() || !isValid()) return;
    setAutoRemove(false);
    std::fprintf(stderr, "kept the failed test's folder: %s\n", qPrintable(path()));
}

QByteArray Le32(qint32 v) {
    QByteArray b(4, '\0');
    PatchLe32(b, 0, v);
    return b;
}

void PatchLe32(QByteArray& bytes, qint64 at, qint32 v) {
    const auto u = quint32(v);
    for (int i = 0; i < 4; ++i) bytes[at + i] = char((u >> (8 * i)) & 0xFF);
}

QByteArray Cp1251(const QString& text) {
    QStringEncoder enc("windows-1251");
    return enc.encode(text);
}

QByteArray BuildArchive(const std::vector<RawEntry>& entries) {
    const qint32 n = qint32(entries.size());
    QByteArray out("GEEK\0\x01\0\0", 8);
    out += Le32(20 + 136 * n) + Le32(0) + Le32(n);
    qint64 offset = 20 + 136 * qint64(n);
    QByteArray data;
    for (const RawEntry& e : entries) {
        QByteArray field = e.name.left(128);
        field.append(QByteArray(128 - field.size(), '\0'));
        const qint32 size = e.forceSize ? qint32(e.sizeOverride) : qint32(e.data.size());
        out += Le32(qint32(offset + e.offsetDelta)) + Le32(size) + field;
        offset += e.data.size();
        data += e.data;
    }
    return out + data;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::map<QString, QByteArray> Snapshot(const QString& root) {
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(root).relativeFilePath(path)] = ReadFile(path);
    }
    return files;
}

QStringList Temporaries(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (QString path = it.next(); it.fileName().startsWith(QStringLiteral(".kbx-")))
            found << path;
    return found;
}

std::pair<quint64, quint64> FileId(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {st.st_dev, st.st_ino};
}

std::tuple<quint64, quint64, qint64> FileStamp(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec};
}

int OpenDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

}  // namespace testutil
