#pragma once

// The distinct values a statistics pass found, as the host enumerates them.

#include <optional>
#include <vector>

#include "host/host.h"

namespace vark::host::common {

class ValueList : public Statistics::ValueEnum {
public:
    explicit ValueList(std::vector<Value> values) : m_values(std::move(values)) {}
    void Reset() override { m_next = 0; }
    std::optional<Value> Next() override {
        if (m_next >= m_values.size()) {
            return std::nullopt;
        }
        return m_values[m_next++];
    }

private:
    std::vector<Value> m_values;
    std::size_t m_next = 0;
};

}  // namespace vark::host::common
