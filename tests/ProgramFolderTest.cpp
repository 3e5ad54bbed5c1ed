// SPDX-License-Identifier: MIT
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// --help and --version answer and exit 0 before any window or registry: the program runs alone in an
// empty folder, where starting for real would stop at the missing registry's message box.
TEST(ProgramFolderTest, HelpAndVersionAnswerWithoutARegistry) {
    const testing_support::TempFolder folder;
    std::filesystem::copy_file(VANTREL_PROGRAM, folder.file("vantrel"));
    for (const auto& [arguments, firstLine] : {std::pair{"--version", "vantrel " VANTREL_VERSION},
                                               std::pair{"--ignored --help", "Usage: vantrel [--help | --version]"}}) {
        const int status = std::system(
            ("cd '" + folder.path() + "' && QT_QPA_PLATFORM=offscreen timeout 20 ./vantrel " + arguments + " >out 2>&1")
                .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << arguments;
        const std::string output = testing_support::readBytes(folder.file("out"));
        EXPECT_EQ(output.substr(0, output.find('\n')), firstLine) << arguments;
    }
}
