#pragma once

// The host module's state: what lives as long as the library is loaded.
// Internal to src/host; other modules use the accessors of HostState.h,
// DialogEntry.h and ComponentInterfaces.h.

#include <atomic>
#include <cstdint>
#include <memory>

#include "host/DialogEntry.h"
#include "host/host.h"

namespace vark::host {

struct HostModuleState {
    /// The shared application reference (g_pApplication).
    std::shared_ptr<Application> g_pApplication;
    /// What ShowCriterionDialog runs; empty until the dialog registers.
    DialogEntryFn criterionDialog;
    /// ComponentObject instances alive; the library may be unloaded at 0.
    std::atomic<std::int32_t> liveObjects{0};
};

HostModuleState& hostModuleState();

}  // namespace vark::host
