// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

// Another operator who may write the folder holding the programs plants Qt plugins and a qt.conf
// there: neither the program nor the tool runs them (see the script for the cases).
TEST(ProgramFolderTest, PluginsPlantedBesideTheProgramsNeverRun) {
    const int status = std::system("'" VANTREL_PROGRAM_FOLDER_CHECK "' '" VANTREL_MARKER_PLUGINS "' '" VANTREL_PROGRAM
                                   "' '" VANTREL_REGISTRY_PROGRAM "'");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the FAILED line above";
}
