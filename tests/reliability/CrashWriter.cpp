// SPDX-License-Identifier: MIT
// Saves accounts through the store in an endless loop, the way the editor's save handler does
// (open, find the account, write its four fields, close), until it is killed. Save number g
// writes g into all four fields of one account, so a row that holds a mix of two saves is
// visible at once. After each save returns, "row g" is written to the standard output.
//
// Usage: reliability_crash_writer FOLDER ROWS FIRST-GENERATION SEED
#include "store/Variant.h"
#include "store/mdlDatabase.h"

#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 5)
        return 2;
    mdlDatabase::SetRegistryFolderForTesting(argv[1]);
    const int rows = std::stoi(argv[2]);
    long long generation = std::stoll(argv[3]);
    std::mt19937 random(static_cast<unsigned>(std::stoul(argv[4])));
    try {
        for (;; ++generation) {
            const int row = static_cast<int>(random() % static_cast<unsigned>(rows));
            const std::string g = std::to_string(generation);
            mdlDatabase::OpenDB();
            auto& servers = *mdlDatabase::rsServers;
            servers.Seek("crash-" + std::to_string(row));
            if (servers.NoMatch())
                return 3;
            servers.Edit();
            servers.Fields("Password").SetValue(g);
            servers.Fields("Name").SetValue("Name " + g);
            // Long enough that a save spans more than one page of the file now and then.
            servers.Fields("Description").SetValue("Description " + g + std::string(180 + generation % 40, '.'));
            servers.Fields("Official").SetValue(dao::Variant(generation % 2 == 1));
            servers.Update();
            mdlDatabase::CloseDB();
            const std::string line = std::to_string(row) + " " + g + "\n";
            if (write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                return 4;
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
