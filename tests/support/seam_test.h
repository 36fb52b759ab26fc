#pragma once
// The engine tests' fixtures; including this header brings gtest, the
// engine's interface and the shared helpers, as window_fixture.h does for the
// window tests. SeamTest: a test that may turn the file layer's test seam;
// whatever knob it set, the next test starts on the machine as it is.

#include <gtest/gtest.h>

#include <vector>

#include "archive/archive.h"
#include "archive/file_io_faults.h"
#include "tests/support/test_util.h"

class SeamTest : public ::testing::Test {
  protected:
    void TearDown() override {
        kbx::io::ResetSeam();
        kbx::ForceHashCollisions(false);
    }
};

// An engine test with a folder of its own (kept when the test fails), an
// archive path in it and a directory to load that archive into.
class ArchiveTest : public SeamTest {
  public:
    // Writes `bytes` as `name` in the test's folder, folders made; its path.
    QString Put(const QString& name, const QByteArray& bytes) {
        const QString path = tmp.filePath(name);
        EXPECT_TRUE(testutil::WriteFile(path, bytes)) << path.toStdString();
        return path;
    }
    // Writes an archive of `entries` at `archive` and loads it into `dir`.
    void Load(const std::vector<testutil::RawEntry>& entries) {
        ASSERT_TRUE(testutil::WriteFile(archive, testutil::BuildArchive(entries)));
        const kbx::Result r = kbx::ReadArchive(archive, dir);
        ASSERT_TRUE(r.ok()) << testsupport::Describe(r);
    }

    testutil::TempDir tmp;
    const QString archive = tmp.filePath(QStringLiteral("game.kbx"));
    kbx::Directory dir;
};
