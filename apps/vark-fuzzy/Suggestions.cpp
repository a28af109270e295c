#include "Suggestions.h"

#include <QString>
#include <algorithm>

namespace vark::app {

namespace {

QString Folded(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size())).toCaseFolded();
}

/// Optimal string alignment distance: a swap of two neighbours counts one
/// ("comptue" is one step from "compute"). Gives up (returns limit + 1) as
/// soon as every path is longer than `limit`.
int Distance(const QString& a, const QString& b, int limit) {
    const int n = a.size();
    const int m = b.size();
    if (std::abs(n - m) > limit) {
        return limit + 1;
    }
    std::vector<int> before(static_cast<std::size_t>(m + 1));
    std::vector<int> previous(static_cast<std::size_t>(m + 1));
    std::vector<int> current(static_cast<std::size_t>(m + 1));
    for (int j = 0; j <= m; ++j) {
        previous[static_cast<std::size_t>(j)] = j;
    }
    for (int i = 1; i <= n; ++i) {
        current[0] = i;
        int rowBest = i;
        for (int j = 1; j <= m; ++j) {
            const auto J = static_cast<std::size_t>(j);
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int d = std::min({previous[J] + 1, current[J - 1] + 1, previous[J - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d = std::min(d, before[J - 2] + 1);
            }
            current[J] = d;
            rowBest = std::min(rowBest, d);
        }
        if (rowBest > limit) {
            return limit + 1;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[static_cast<std::size_t>(m)];
}

}  // namespace

std::vector<std::string> NearestNames(std::string_view wanted,
                                      const std::vector<std::string>& candidates,
                                      std::size_t limit) {
    const QString folded = Folded(wanted);
    const int maxDistance = std::max(1, static_cast<int>((folded.size() + 2) / 3));
    struct Scored {
        int distance;
        std::size_t order;
    };
    std::vector<Scored> scored;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i] == wanted) {
            continue;
        }
        const int d = Distance(folded, Folded(candidates[i]), maxDistance);
        if (d <= maxDistance) {
            scored.push_back({d, i});
        }
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const Scored& x, const Scored& y) { return x.distance < y.distance; });
    std::vector<std::string> names;
    for (const Scored& s : scored) {
        if (names.size() == limit) {
            break;
        }
        if (std::find(names.begin(), names.end(), candidates[s.order]) == names.end()) {
            names.push_back(candidates[s.order]);
        }
    }
    return names;
}

std::string JoinNames(const std::vector<std::string>& names, std::string_view orWord) {
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            joined += i + 1 == names.size() ? " " + std::string(orWord) + " " : ", ";
        }
        joined += names[i];
    }
    return joined;
}

}  // namespace vark::app
