#pragma once

// A progress bar drawn on one line of a terminal (stderr) while a batch
// command reads or writes every feature of a layer.

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace vark::app {

class ProgressBar {
public:
    /// Draws on `out` when `enabled`; otherwise every call does nothing.
    /// The caller decides (a terminal, and no --quiet).
    ProgressBar(std::ostream& out, bool enabled);
    /// Clears the bar's line if it was drawn.
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// Reports `done` items of `total` (-1: unknown). Redraws at most ten
    /// times a second, and not at all during the first quarter second, so
    /// that short work leaves no trace.
    void update(std::int64_t done, std::int64_t total);
    /// Erases the bar, so that the next output starts on a clean line.
    void finish();

    /// The line drawn for `done` of `total`, without the leading carriage
    /// return: "[#####...............]  25 %  250000/1000000", or the count
    /// alone when the total is unknown.
    static std::string Render(std::int64_t done, std::int64_t total);

private:
    std::ostream& m_out;
    bool m_enabled;
    bool m_drawn = false;
    std::size_t m_width = 0;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace vark::app
