// SPDX-License-Identifier: MIT
#pragma once

#include "tests/support/FaultVfs.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace reliability {

// What becomes of the writes a file had not yet synced when the power went: all lost, all kept,
// or torn at 512-byte sectors (of each such write, the even-numbered sectors of the file landed
// and the odd-numbered ones did not). A file created or removed since the folder was last synced
// keeps its new state only when everything is kept.
enum class PowerCut { Lost, Kept, Torn };

const char* powerCutName(PowerCut way);

// The files of a folder as found after a power cut just before events[cut] (cut ==
// events.size(): after all of them), from `before`, the folder's files (name to bytes) when the
// recording started, taken to be on the disk for good.
std::map<std::string, std::string> diskAfterPowerCut(const std::map<std::string, std::string>& before,
                                                     const std::vector<testing_support::FileEvent>& events,
                                                     std::size_t cut, PowerCut way);

} // namespace reliability
