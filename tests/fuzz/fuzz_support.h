#pragma once
// Shared pieces of the fuzz targets: the input as a file, scratch folders on
// a memory file system, and checks that abort on any finding.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// Aborts with a message: libFuzzer keeps the input, and a replay test fails.
[[noreturn]] void FuzzFail(const char* file, int line, const char* what, const std::string& detail);
#define FUZZ_CHECK(cond, detail)                                    \
    do {                                                            \
        if (!(cond)) FuzzFail(__FILE__, __LINE__, #cond, (detail)); \
    } while (0)

namespace fuzz {

// A fresh folder on a memory file system when there is one (/dev/shm), so
// that each execution costs system calls but no disk I/O. Removed at exit.
std::string MakeScratchRoot(const char* tag);

// The input written to one scratch file, rewritten for each input, that the
// engine opens as it opens any archive.
QString InputFile(const uint8_t* data, size_t size);

// Removes everything beneath the folder `path`, keeping the folder itself.
// Links are removed, never followed.
void ClearFolder(const std::string& path);

bool WriteWhole(const std::string& path, const QByteArray& bytes);
QByteArray ReadWhole(const std::string& path);

// Every entry beneath `root` as relative path -> what it is: "f:" + content
// for a regular file, "l:" + target for a link, "d" for a folder, "o" for
// anything else. Links are not followed, nor is the folder `skip` entered.
std::map<std::string, QByteArray> Tree(const std::string& root, const std::string& skip = {});

}  // namespace fuzz
