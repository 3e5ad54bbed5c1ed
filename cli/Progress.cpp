// SPDX-License-Identifier: MIT
#include "cli/Progress.h"

#include <algorithm>
#include <sstream>

namespace cli {

Progress::Progress(std::ostream& output, bool enabled, std::string label, std::size_t total, std::string items)
    : m_output(output), m_enabled(enabled), m_label(std::move(label)), m_items(std::move(items)), m_total(total),
      m_start(std::chrono::steady_clock::now()), m_last(m_start) {}

Progress::~Progress() {
    finish();
}

double Progress::rate() const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    return elapsed.count() > 0.05 ? static_cast<double>(m_done) / elapsed.count() : 0.0;
}

void Progress::maybeShow() {
    const auto now = std::chrono::steady_clock::now();
    // The first time at once, so a long run shows itself soon; then a few times a second.
    if (m_shownWidth > 0 && now - m_last < std::chrono::milliseconds(200))
        return;
    m_last = now;
    show();
}

void Progress::show() {
    std::ostringstream line;
    if (m_items.empty()) {
        const auto ran = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start);
        line << m_label << ": " << ran.count() << " s";
        draw(line.str());
        return;
    }
    line << m_label << ": " << m_done;
    if (!m_byPosition && m_total > 0)
        line << " of " << m_total;
    line << ' ' << m_items;
    const std::size_t position = m_byPosition ? m_position : m_done;
    if (m_total > 0)
        line << ", " << std::min<std::size_t>(position * 100 / m_total, 100) << '%';
    if (const double perSecond = rate(); perSecond > 0)
        line << ", " << static_cast<std::size_t>(perSecond) << " a second";
    draw(line.str());
}

void Progress::draw(const std::string& text) {
    // Shorter than the line before: spaces cover what is left of it.
    m_output << '\r' << text << std::string(m_shownWidth > text.size() ? m_shownWidth - text.size() : 0, ' ')
             << std::flush;
    m_shownWidth = std::max(m_shownWidth, text.size());
}

void Progress::clearLine() {
    if (m_shownWidth > 0)
        m_output << '\r' << std::string(m_shownWidth, ' ') << '\r' << std::flush;
    m_shownWidth = 0;
}

void Progress::nextStage(std::string label, std::size_t total, std::string items) {
    clearLine();
    m_label = std::move(label);
    m_items = std::move(items);
    m_total = total;
    m_byPosition = false;
    m_done = 0;
    m_position = 0;
    m_start = m_last = std::chrono::steady_clock::now();
    if (m_enabled && m_items.empty())
        show();
}

Progress& Progress::none() {
    static std::ostringstream nowhere; // never written to: a disabled progress draws nothing
    thread_local Progress quiet(nowhere, false, {});
    return quiet;
}

void Progress::finish() {
    clearLine();
    m_enabled = false;
}

} // namespace cli
