#pragma once

// An editor whose state its application sets (never editing unless set).

#include <cstdint>

#include "host/host.h"

namespace vark::host::common {

class CommonEditor : public Editor {
public:
    std::int32_t GetEditState() const override { return m_state; }
    void setEditState(std::int32_t state) { m_state = state; }

private:
    std::int32_t m_state = 0;
};

}  // namespace vark::host::common
