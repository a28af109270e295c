#include "plugin/qgis/ComponentCommand.h"

#include <dlfcn.h>

#include "host/ComponentIds.h"
#include "support/Failure.h"

namespace vark::qgis {

namespace {

constexpr const char* kSource = "VARK_fuzzy_plugin";

Failure entryFailure(const std::string& id, int result) {
    return Failure(err::kHostFailure, "Cannot create " + id + ": " + VARK_ResultText(result),
                   kSource);
}

}  // namespace

std::unique_ptr<ComponentCommand> ComponentCommand::CreateOwn(const std::string& progId) {
    std::unique_ptr<ComponentCommand> made(new ComponentCommand());
    made->m_release = &VARK_ReleaseObject;
    const int result = VARK_CreateObject(progId.c_str(), &made->m_object);
    if (result != VARK_OK) {
        throw entryFailure(progId, result);
    }
    made->m_command = static_cast<host::ICommand*>(
        VARK_QueryInterface(made->m_object, std::string(ids::kIid_ICommand).c_str()));
    if (!made->m_command) {
        throw Failure(err::kHostFailure, progId + " is not a command", kSource);
    }
    return made;
}

std::unique_ptr<ComponentCommand> ComponentCommand::LoadRegistered(const std::string& progId) {
    std::optional<host::RegisteredClass> entry;
    try {
        entry = host::FindRegisteredClass(progId);
    } catch (...) {
        return nullptr;
    }
    if (!entry || entry->library.empty()) {
        return nullptr;
    }
    std::unique_ptr<ComponentCommand> made(new ComponentCommand());
    made->m_library = dlopen(entry->library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!made->m_library) {
        return nullptr;
    }
    auto create = reinterpret_cast<VarkCreateObjectFn>(dlsym(made->m_library, "VARK_CreateObject"));
    auto query =
        reinterpret_cast<VarkQueryInterfaceFn>(dlsym(made->m_library, "VARK_QueryInterface"));
    made->m_release =
        reinterpret_cast<VarkReleaseObjectFn>(dlsym(made->m_library, "VARK_ReleaseObject"));
    if (!create || !query || !made->m_release) {
        return nullptr;
    }
    // The program id names the class in the registry; the library itself
    // is asked by class id, which every component knows its classes by.
    if (create(entry->classId.c_str(), &made->m_object) != VARK_OK || !made->m_object) {
        made->m_object = nullptr;
        return nullptr;
    }
    made->m_command = static_cast<host::ICommand*>(
        query(made->m_object, std::string(ids::kIid_ICommand).c_str()));
    if (!made->m_command) {
        return nullptr;
    }
    return made;
}

ComponentCommand::~ComponentCommand() {
    if (m_object && m_release) {
        m_release(m_object);
    }
    if (m_library) {
        dlclose(m_library);
    }
}

ComponentMenu::ComponentMenu(const std::string& progId) {
    const int result = VARK_CreateObject(progId.c_str(), &m_object);
    if (result != VARK_OK) {
        throw entryFailure(progId, result);
    }
    m_menu = static_cast<host::IMenuDef*>(
        VARK_QueryInterface(m_object, std::string(ids::kIid_IMenuDef).c_str()));
    if (!m_menu) {
        VARK_ReleaseObject(m_object);
        throw Failure(err::kHostFailure, progId + " is not a menu", kSource);
    }
}

ComponentMenu::~ComponentMenu() {
    VARK_ReleaseObject(m_object);
}

}  // namespace vark::qgis
