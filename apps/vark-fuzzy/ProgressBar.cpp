#include "ProgressBar.h"

#include <algorithm>

namespace vark::app {

namespace {

constexpr std::size_t kBarCells = 30;
constexpr auto kFirstDraw = std::chrono::milliseconds(250);
constexpr auto kRedraw = std::chrono::milliseconds(100);

}  // namespace

ProgressBar::ProgressBar(std::ostream& out, bool enabled)
    : m_out(out), m_enabled(enabled), m_start(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
    finish();
}

std::string ProgressBar::Render(std::int64_t done, std::int64_t total) {
    if (total <= 0) {
        return std::to_string(done);
    }
    const std::int64_t shown = std::clamp<std::int64_t>(done, 0, total);
    const auto cells =
        static_cast<std::size_t>(shown * static_cast<std::int64_t>(kBarCells) / total);
    const std::int64_t percent = shown * 100 / total;
    std::string line = "[";
    line.append(cells, '#');
    line.append(kBarCells - cells, '.');
    line += "] ";
    const std::string percentText = std::to_string(percent);
    line.append(3 - std::min<std::size_t>(3, percentText.size()), ' ');
    line += percentText + " %  " + std::to_string(done) + "/" + std::to_string(total);
    return line;
}

void ProgressBar::update(std::int64_t done, std::int64_t total) {
    if (!m_enabled) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_start < kFirstDraw || (m_drawn && now - m_lastDraw < kRedraw)) {
        return;
    }
    m_lastDraw = now;
    const std::string line = Render(done, total);
    m_out << '\r' << line;
    if (line.size() < m_width) {
        m_out << std::string(m_width - line.size(), ' ');
    }
    m_width = std::max(m_width, line.size());
    m_out.flush();
    m_drawn = true;
}

void ProgressBar::finish() {
    if (!m_drawn) {
        return;
    }
    m_out << '\r' << std::string(m_width, ' ') << '\r';
    m_out.flush();
    m_drawn = false;
}

}  // namespace vark::app
