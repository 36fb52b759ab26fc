#pragma once
// A test that may turn the file layer's test seam: whatever knob it set, the
// next test starts on the machine as it is.

#include <gtest/gtest.h>

#include "archive/file_io_faults.h"

class SeamTest : public ::testing::Test {
  protected:
    void TearDown() override {
        kbx::io::ResetSeam();
        kbx::ForceHashCollisions(false);
    }
};
