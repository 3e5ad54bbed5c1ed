// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

namespace registry {

// A count of work done, redrawn in place a few times a second on a terminal. When disabled (the
// stream is not a terminal) it writes nothing at all, so logs and pipes stay clean.
class Progress {
public:
    // total 0: unknown, only the count is shown.
    Progress(std::ostream& output, bool enabled, std::string label, std::size_t total = 0);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress();

    void advance() {
        if (++m_done % 4096 == 0 && m_enabled)
            maybeShow();
    }
    // Ends the line if anything was shown; called by the destructor too.
    void finish();

    static Progress disabled(std::ostream& output) { return Progress(output, false, {}); }

private:
    void maybeShow();
    void show();

    std::ostream& m_output;
    bool m_enabled;
    bool m_shown = false;
    std::string m_label;
    std::size_t m_total;
    std::size_t m_done = 0;
    std::chrono::steady_clock::time_point m_last;
};

} // namespace registry
