// SPDX-License-Identifier: MIT
#include "registry/Progress.h"

namespace registry {

Progress::Progress(std::ostream& output, bool enabled, std::string label, std::size_t total)
    : m_output(output), m_enabled(enabled), m_label(std::move(label)), m_total(total),
      m_last(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    finish();
}

void Progress::maybeShow() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last < std::chrono::milliseconds(200))
        return;
    m_last = now;
    show();
}

void Progress::show() {
    m_output << '\r' << m_label << ": " << m_done;
    if (m_total > 0)
        m_output << " of " << m_total << " (" << m_done * 100 / m_total << "%)";
    m_output << std::flush;
    m_shown = true;
}

void Progress::finish() {
    if (!m_shown)
        return;
    show();
    m_output << '\n' << std::flush;
    m_shown = false;
    m_enabled = false;
}

} // namespace registry
