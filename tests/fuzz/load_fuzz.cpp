// Fuzz target: the directory loader and the verifier on arbitrary bytes.
// A load either fails and leaves the directory as it was, or succeeds with a
// directory that the file can actually hold.

#include <cstdint>
#include <cstring>

#include "archive/archive.h"
#include "archive/verify.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::InputFile(data, size);
    kbx::Directory dir;  // what a failed load must leave untouched
    dir.ArchivePath = "previous.kbx";
    dir.EntryOffset = {156, 0};
    dir.EntrySize = {3, 0};
    dir.EntryName.Append("Version\\a");
    dir.EntryName.Append({});
    const kbx::Directory before = dir;
    qint64 calls = 0;
    const kbx::Result r =
        kbx::ReadArchive(path, dir, [&](qint64 i) { FUZZ_CHECK(i == calls++, ""); });
    if (!r.ok()) {
        FUZZ_CHECK(r.outcome == kbx::Outcome::Unusable, "");
        FUZZ_CHECK(r.failure.reason != kbx::Reason::None, "");
        FUZZ_CHECK(dir.ArchivePath == before.ArchivePath && dir.EntryOffset == before.EntryOffset &&
                       dir.EntrySize == before.EntrySize &&
                       dir.EntryName[0] == before.EntryName[0] && dir.EntryName.size() == 2,
                   "a failed load changed the directory");
        return 0;
    }
    const qint64 count = dir.Count();
    FUZZ_CHECK(dir.ArchivePath == path, "");
    FUZZ_CHECK(calls == count, "progress hook not called once per record");
    FUZZ_CHECK(size >= 20 && qint64(size) >= kbx::DirectoryEnd(count), "directory past the end");
    FUZZ_CHECK(std::memcmp(data, kbx::kSignature.data(), kbx::kSignature.size()) == 0, "");
    FUZZ_CHECK(dir.EntrySize.size() == size_t(count + 1) && dir.EntryName.size() == count + 1, "");
    FUZZ_CHECK(dir.EntryOffset[size_t(count)] == 0 && dir.EntrySize[size_t(count)] == 0 &&
                   dir.Name(count).isEmpty(),
               "the blank element is not blank");
    for (qint64 i = 0; i < count; ++i) {
        const uint8_t* rec = data + kbx::DirectoryEnd(i);
        FUZZ_CHECK(dir.EntryOffset[size_t(i)] == kbx::ReadLE32(reinterpret_cast<const char*>(rec)),
                   "");
        FUZZ_CHECK(dir.EntryName[i] ==
                       kbx::NameBytes(QByteArrayView(reinterpret_cast<const char*>(rec) + 8, 128)),
                   "");
        // Names decode and are judged without trouble, whatever their bytes.
        const QString name = dir.Name(i);
        FUZZ_CHECK(name.size() <= 128, "");
        (void)kbx::NameProblem(name);
        (void)kbx::NameComponents(name);
    }
    qint64 verified = -1;
    const kbx::Result v = kbx::Verify(
        path,
        [&](const kbx::Problem& p) {
            FUZZ_CHECK(p.index >= 0 && p.index < count && p.other >= -1 && p.other < count, "");
            FUZZ_CHECK(p.name == dir.Name(p.index), "");
            return true;
        },
        &verified);
    FUZZ_CHECK(v.ok() && verified == count, "verify refused what the loader took");
    return 0;
}
