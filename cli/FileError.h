// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// A file the tool was given cannot be made, read or written (outside the store, which reports
// its own failures as dao::Error). The message names the file.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace cli
