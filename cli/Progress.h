// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

namespace cli {

// A count of work done, with how far through the whole it is and the rate, redrawn in place a
// few times a second on a terminal. When disabled (the stream is not a terminal) it writes
// nothing at all, so logs and pipes stay clean.
//
// The share done is measured against `total`: by default in items (advance), or in any other
// unit the caller reports with setPosition, such as bytes read of a file. A stage that counts
// nothing (`items` empty) shows the time it has run instead, redrawn as `tick` is called.
class Progress {
public:
    // total 0: unknown, only the count and the rate are shown. `items` names what is counted.
    Progress(std::ostream& output, bool enabled, std::string label, std::size_t total = 0,
             std::string items = "accounts");
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress();

    // Measures the share done by setPosition instead of by the count of items.
    void measureByPosition() { m_byPosition = true; }
    // Starts the next stage of the work on a clean line: its own label, count, rate and total of
    // items (0: unknown), measured by the count.
    void nextStage(std::string label, std::size_t total, std::string items);
    // Starts a stage that counts nothing, shown at once with the seconds it has run.
    void nextStage(std::string label) { nextStage(std::move(label), 0, {}); }
    void setPosition(std::size_t position) { m_position = position; }
    // The total of the current stage, once it is known (0: unknown).
    void setTotal(std::size_t total) { m_total = total; }
    // Sets the count of items done so far, and redraws when it is time to.
    void setDone(std::size_t done) {
        m_done = done;
        tick();
    }
    // Redraws when it is time to, with the count and the time run as they are: for work that
    // reports it is alive without saying how far it is. Cheap enough to call thousands of times a
    // second; never throws.
    void tick() {
        if (m_enabled)
            maybeShow();
    }

    void advance() {
        if (++m_done % 4096 == 0 && m_enabled)
            maybeShow();
    }
    // Clears the line if anything was shown, so whatever is written next starts on a clean
    // line; nothing more is drawn afterwards. Called by the destructor too.
    void finish();

    std::size_t done() const { return m_done; }
    std::size_t total() const { return m_total; }
    bool enabled() const { return m_enabled; }
    // Whole items a second since the start; 0 before a measurable time has passed.
    double rate() const;

    static Progress disabled(std::ostream& output) { return Progress(output, false, {}); }
    // One disabled progress of this thread, for work run without one to show.
    static Progress& none();

private:
    void maybeShow();
    void show();
    void draw(const std::string& text);
    void clearLine();

    std::ostream& m_output;
    bool m_enabled;
    bool m_byPosition = false;
    std::string m_label;
    std::string m_items;
    std::size_t m_total;
    std::size_t m_done = 0;
    std::size_t m_position = 0;
    std::size_t m_shownWidth = 0;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_last;
};

} // namespace cli
