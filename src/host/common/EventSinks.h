#pragma once

// The subscribers of one event source (a document's or a map's events).

#include <algorithm>
#include <functional>
#include <vector>

namespace vark::host::common {

template <typename Sink>
class EventSinks {
public:
    void add(Sink* sink) { m_sinks.push_back(sink); }
    /// Removes one subscription of `sink`; false when it had none.
    bool remove(Sink* sink) {
        const auto it = std::find(m_sinks.begin(), m_sinks.end(), sink);
        if (it == m_sinks.end()) {
            return false;
        }
        m_sinks.erase(it);
        return true;
    }
    /// Calls `fire` on every subscriber, over a copy of the list so that a
    /// subscriber may unsubscribe while it runs.
    void fire(const std::function<void(Sink&)>& fire) const {
        const std::vector<Sink*> sinks = m_sinks;
        for (Sink* sink : sinks) {
            fire(*sink);
        }
    }
    const std::vector<Sink*>& sinks() const { return m_sinks; }

private:
    std::vector<Sink*> m_sinks;
};

}  // namespace vark::host::common
