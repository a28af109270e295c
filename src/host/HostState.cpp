#include "host/HostState.h"

#include "host/ComponentInterfaces.h"
#include "host/HostModuleState.h"

namespace vark {

namespace host {

HostModuleState& hostModuleState() {
    static HostModuleState state;
    return state;
}

ComponentObject::ComponentObject() {
    ++hostModuleState().liveObjects;
}

ComponentObject::~ComponentObject() {
    --hostModuleState().liveObjects;
}

std::int32_t LiveComponentObjects() {
    return hostModuleState().liveObjects.load();
}

}  // namespace host

std::shared_ptr<host::Application>& g_pApplication() {
    return host::hostModuleState().g_pApplication;
}

}  // namespace vark
