// Fuzz target: pack a generated tree, then load, unpack and compare. The
// input describes the tree: regular files in Version/Data and Version, links,
// subfolders and FIFOs, with names of any bytes a file system accepts. A
// pack either reproduces every packed file byte for byte after the round
// trip, or refuses for a name that cannot round-trip (or would be one file
// with another on a case-insensitive file system) and leaves the existing
// archive byte-identical with no temporary beside it. The engine's own
// temporary files in the tree are never packed.

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdint>
#include <set>

#include "archive/archive.h"
#include "fuzz_support.h"
#include "tests/support/describe.h"

namespace {

const QByteArray kOld = "an archive that was already here";

struct Scene {
    const std::string base = fuzz::MakeScratchRoot("pack"), root = base + "/root",
                      targetDir = base + "/target", target = targetDir + "/out.kbx",
                      out = base + "/out";
    Scene() {
        for (const std::string& d : {root, targetDir, out}) ::mkdir(d.c_str(), 0755);
    }
};

// True when the name, as the engine reads it from disk, can be an entry
// name that comes back as the same file.
bool Representable(const QByteArray& prefix, const QByteArray& native) {
    const QString text = QFile::decodeName(native);
    if (QFile::encodeName(text) != native || text.contains(u'\\')) return false;
    const QString entry = QString::fromLatin1(prefix) + text;
    const std::optional<QByteArray> bytes = kbx::EncodeName(entry);
    return bytes && bytes->size() <= 128 && kbx::NameProblem(entry) == kbx::NameRule::None;
}

// Temporary files of the engine, left in a tree, are never packed.
bool IsOurTemporary(const QByteArray& name) {
    return name.startsWith(".kbx-") && name.endsWith(".tmp");
}

// True when two packed names of one folder would be one file on the game's
// case-insensitive file system, or a file in Version would be its Data folder.
bool CaseClash(const std::map<std::string, QByteArray>& expected) {
    std::set<std::pair<bool, QString>> seen{{false, QStringLiteral("data")}};
    for (const auto& [rel, bytes] : expected) {
        const bool data = rel.rfind("Version/Data/", 0) == 0;
        const QString name = QFile::decodeName(QByteArray::fromStdString(rel).mid(data ? 13 : 8));
        if (!seen.insert({data, name.toCaseFolded()}).second) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scene scene;
    fuzz::ClearFolder(scene.root);
    fuzz::ClearFolder(scene.out);
    fuzz::ClearFolder(scene.targetDir);
    FUZZ_CHECK(fuzz::WriteWhole(scene.target, kOld), scene.target);
    const std::string version = scene.root + "/Version";
    const std::string dataDir = version + "/Data";
    ::mkdir(version.c_str(), 0755);
    ::mkdir(dataDir.c_str(), 0755);

    // The tree, and what each packed entry must hold after the round trip.
    std::map<std::string, QByteArray> expected;  // "Version/Data/x" -> "f:" + bytes
    bool representable = true;
    QByteArray lastDataFile;
    size_t at = 0;
    while (at + 3 <= size) {
        // A kind (the high bit: 257 times the data), a name length, a data length.
        const uint8_t kind = data[at] % 5;
        const size_t nameLen = std::min<size_t>(data[at + 1], size - at - 3);
        const size_t dataLen = std::min<size_t>(size_t(data[at + 2]) * (data[at] & 0x80 ? 257 : 1),
                                                size - at - 3 - nameLen);
        const char* from = reinterpret_cast<const char*>(data + at + 3);
        QByteArray name(from, int(nameLen));
        const QByteArray bytes(from + nameLen, int(dataLen));
        at += 3 + nameLen + dataLen;
        name.replace('/', '_').replace('\0', '_');
        if (name.isEmpty() || name == "." || name == "..") continue;

        const bool inData = kind == 0 || kind == 3;
        const std::string path = (inData ? dataDir : version) + "/" + name.toStdString();
        const std::string rel = (inData ? "Version/Data/" : "Version/") + name.toStdString();
        const QByteArray prefix = inData ? "Version\\Data\\" : "Version\\";
        switch (kind) {
            case 0:
            case 1: {
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                if (fd < 0) break;
                FUZZ_CHECK(::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(),
                           path);
                ::close(fd);
                if (IsOurTemporary(name)) break;
                expected[rel] = "f:" + bytes;
                representable = representable && Representable(prefix, name);
                if (kind == 0) lastDataFile = name;
                break;
            }
            case 2: {
                // A link to a file is packed as that file; a dangling one is not.
                const QByteArray to = lastDataFile.isEmpty() ? "missing" : "Data/" + lastDataFile;
                if (::symlink(to.constData(), path.c_str()) != 0) break;
                if (!lastDataFile.isEmpty() && !IsOurTemporary(name)) {
                    expected[rel] = expected["Version/Data/" + lastDataFile.toStdString()];
                    representable = representable && Representable(prefix, name);
                }
                break;
            }
            case 3:
                // A subfolder is never packed, nor what it holds.
                if (::mkdir(path.c_str(), 0755) == 0) fuzz::WriteWhole(path + "/inner", bytes);
                break;
            case 4:
                // Neither is a FIFO, and it must not hang the pack.
                ::mkfifo(path.c_str(), 0644);
                break;
        }
    }

    representable = representable && !CaseClash(expected);
    const kbx::Result packed =
        kbx::Pack(QString::fromStdString(scene.root), QString::fromStdString(scene.target));
    const std::map<std::string, QByteArray> beside = fuzz::Tree(scene.targetDir);
    FUZZ_CHECK(beside.size() == 1 && beside.count("out.kbx"), "temporary left beside the target");
    if (!packed.ok()) {
        FUZZ_CHECK(packed.outcome == kbx::Outcome::Unusable, "");
        FUZZ_CHECK(packed.failure.reason != kbx::Reason::None, testsupport::Describe(packed));
        FUZZ_CHECK(fuzz::ReadWhole(scene.target) == kOld, "the existing archive was damaged");
        FUZZ_CHECK(!representable,
                   "refused a tree that can be packed: " + testsupport::Describe(packed));
        return 0;
    }
    FUZZ_CHECK(representable, "packed a tree that cannot come back whole");
    FUZZ_CHECK(packed.done == qint64(expected.size()), "");

    kbx::Directory dir;
    const QString target = QString::fromStdString(scene.target);
    FUZZ_CHECK(kbx::ReadArchive(target, dir).ok(), "");
    const qint64 count = dir.Count();
    FUZZ_CHECK(count == qint64(expected.size()), "");
    // Data files first, then the others, each group in case-insensitive
    // order, with the data laid out back to back in directory order.
    qint64 next = kbx::DirectoryEnd(count);
    for (qint64 i = 0; i < count; ++i) {
        FUZZ_CHECK(dir.EntryOffset[size_t(i)] == next, "data not back to back");
        next += dir.EntrySize[size_t(i)];
        if (i == 0) continue;
        const QString a = dir.Name(i - 1), b = dir.Name(i);
        const bool aData = a.startsWith(u"Version\\Data\\");
        const bool bData = b.startsWith(u"Version\\Data\\");
        FUZZ_CHECK(aData || !bData, "a Data file after a Version file");
        if (aData == bData)
            FUZZ_CHECK(QString::compare(a, b, Qt::CaseInsensitive) <= 0,
                       "out of order: " + a.toStdString() + " " + b.toStdString());
    }
    FUZZ_CHECK(QFile(target).size() == next, "");

    const kbx::Result unpacked = kbx::UnpackAll(dir, QString::fromStdString(scene.out));
    FUZZ_CHECK(unpacked.ok(), testsupport::Describe(unpacked));
    std::map<std::string, QByteArray> back = fuzz::Tree(scene.out);
    back.erase("Version");
    back.erase("Version/Data");
    FUZZ_CHECK(back == expected, "the round trip changed the files");
    return 0;
}
