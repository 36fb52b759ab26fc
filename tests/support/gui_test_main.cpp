#include <gtest/gtest.h>
#include <QApplication>

// Allocations that the libraries below Qt keep for the life of the process,
// left out of LeakSanitizer's report in every way the tests are run (a
// preset, plain ctest, a test binary run by hand). The same list is in
// tests/lsan.supp for tools that take a file.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
