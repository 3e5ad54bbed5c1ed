// SPDX-License-Identifier: MIT
#pragma once

#include "store/DBEngine.h"
#include "store/mdlDatabase.h"
#include "tests/support/TempFolder.h"
#include "ui/MessageBox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace testing_support {

// A test of the windows in a folder of its own: the program looks for its registry ("zarn.dat",
// not made here) in that folder, messages are counted from the start of each test, and the
// engine's busy timeout is set back afterwards.
template <class Base = ::testing::Test> class WindowTest : public Base {
protected:
    void SetUp() override {
        mdlDatabase::SetRegistryFolderForTesting(folder.path());
        MessageBox::clearShownForTesting();
        registry = folder.file("zarn.dat");
    }
    void TearDown() override {
        dao::DBEngine::instance().SetBusyTimeout(std::chrono::milliseconds(5000));
        mdlDatabase::SetRegistryFolderForTesting("");
    }

    TempFolder folder;
    std::string registry;
};

} // namespace testing_support
