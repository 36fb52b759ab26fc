// Makes the benchmark's data.
//
//   kbx_bench_data tree ROOT COUNT BYTES
//       COUNT files of BYTES each, alternately in ROOT/Version/Data and
//       ROOT/Version. Their bytes come from a fast generator, so that no file
//       system or page cache can shortcut them as zeros.
//   kbx_bench_data archive PATH COUNT [BYTES]
//       An archive of COUNT entries of BYTES each (1 by default), alternately
//       in Version\Data\ and Version\, written directly.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "archive/format.h"

namespace {

// xorshift64*: incompressible enough for a copy benchmark, and fast.
void Fill(QByteArray& buf, std::uint64_t& state) {
    auto* p = reinterpret_cast<unsigned char*>(buf.data());
    for (qsizetype i = 0; i + 8 <= buf.size(); i += 8) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const std::uint64_t v = state * 0x2545F4914F6CDD1DULL;
        for (int b = 0; b < 8; ++b) p[i + b] = static_cast<unsigned char>(v >> (8 * b));
    }
}

bool WriteFile(const QString& path, qint64 bytes, std::uint64_t& state) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QByteArray buf(qMin<qint64>(bytes, 1 << 20), '\0');
    for (qint64 left = bytes; left > 0; left -= buf.size()) {
        Fill(buf, state);
        const qint64 n = qMin<qint64>(left, buf.size());
        if (f.write(buf.constData(), n) != n) return false;
    }
    return f.flush();
}

int Tree(const QString& root, qint64 count, qint64 bytes) {
    const QString version = root + QStringLiteral("/Version");
    const QString data = version + QStringLiteral("/Data");
    if (!QDir().mkpath(data)) return 1;
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (qint64 i = 0; i < count; ++i) {
        const QString folder = i % 2 == 0 ? data : version;
        const QString name = QStringLiteral("/file%1.dat").arg(i, 7, 10, QLatin1Char('0'));
        if (!WriteFile(folder + name, bytes, state)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(folder + name));
            return 1;
        }
    }
    return 0;
}

int Archive(const QString& path, qint64 count, qint64 bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    if (f.write(kbx::HeaderBytes(qint32(count))) != kbx::kHeaderSize) return 1;
    const qint64 dataStart = kbx::DirectoryEnd(count);
    QByteArray block;
    for (qint64 i = 0; i < count; ++i) {
        const QByteArray name = (i % 2 == 0 ? QByteArrayLiteral("Version\\Data\\entry")
                                            : QByteArrayLiteral("Version\\entry")) +
                                QByteArray::number(i).rightJustified(7, '0') + ".dat";
        kbx::AppendRecord(block, qint32(dataStart + i * bytes), qint32(bytes), name);
        if (block.size() >= (1 << 20)) {
            if (f.write(block) != block.size()) return 1;
            block.clear();
        }
    }
    if (f.write(block) != block.size()) return 1;
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    QByteArray data(qMin<qint64>(count * bytes, 1 << 20), '\0');
    for (qint64 left = count * bytes; left > 0; left -= data.size()) {
        Fill(data, state);
        const qint64 n = qMin<qint64>(left, data.size());
        if (f.write(data.constData(), n) != n) return 1;
    }
    return f.flush() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (what == u"tree" && argc == 5)
        return Tree(QFile::decodeName(argv[2]), std::atoll(argv[3]), std::atoll(argv[4]));
    if (what == u"archive" && (argc == 4 || argc == 5))
        return Archive(QFile::decodeName(argv[2]), std::atoll(argv[3]),
                       argc == 5 ? std::atoll(argv[4]) : 1);
    std::fputs("usage: kbx_bench_data tree ROOT COUNT BYTES | archive PATH COUNT [BYTES]\n",
               stderr);
    return 2;
}
