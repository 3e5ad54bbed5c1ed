// SPDX-License-Identifier: MIT
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

// Another operator who may write the folder holding the programs plants Qt plugins and a qt.conf
// there: neither the program nor the tool runs them (see the script for the cases).
TEST(ProgramFolderTest, PluginsPlantedBesideTheProgramsNeverRun) {
    const int status = std::system("'" VANTREL_PROGRAM_FOLDER_CHECK "' '" VANTREL_MARKER_PLUGINS "' '" VANTREL_PROGRAM
                                   "' '" VANTREL_REGISTRY_PROGRAM "'");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the FAILED line above";
}

// The application folder also holds the registry: installing it as /usr or /usr/local, shared
// with every other program, is refused with the reason. DESTDIR keeps a slip inside the test.
TEST(ProgramFolderTest, AnInstallIntoASharedFolderIsRefused) {
    for (const char* prefix : {"/usr", "/usr/local", "/usr/local/"}) {
        const testing_support::TempFolder destination;
        const std::string command = "DESTDIR='" + destination.path() +
                                    "' '" VANTREL_CMAKE "' --install '" VANTREL_BUILD_FOLDER
                                    "' --component application --prefix " +
                                    prefix + " 2>&1";
        FILE* install = popen(command.c_str(), "r");
        ASSERT_NE(install, nullptr);
        std::string output;
        char buffer[4096];
        while (const std::size_t read = fread(buffer, 1, sizeof buffer, install))
            output.append(buffer, read);
        const int status = pclose(install);
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << prefix << ":\n" << output;
        EXPECT_THAT(output, ::testing::HasSubstr("The install prefix is Vantrel's own folder, which also holds its "
                                                 "registry,"))
            << prefix;
    }
}
