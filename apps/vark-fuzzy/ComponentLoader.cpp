#include "ComponentLoader.h"

#include <dlfcn.h>

#include <filesystem>

#include "support/Failure.h"

namespace vark::app {

namespace {

constexpr const char* kLibraryFileName = "VARK_fuzzy.so";

template <class Fn>
Fn resolve(void* handle, const char* name, const std::string& path) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        throw Failure(err::kFileNotFound, path + " has no entry point " + name, "vark-fuzzy");
    }
    return reinterpret_cast<Fn>(symbol);
}

}  // namespace

ComponentLibrary ComponentLibrary::Load(const std::string& folder) {
    ComponentLibrary library;
    library.m_path = (std::filesystem::path(folder) / kLibraryFileName).string();
    // The library stays loaded for the life of the process: its objects and
    // the state it keeps must not outlive its code.
    void* handle = dlopen(library.m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* message = dlerror();
        throw Failure(err::kFileNotFound,
                      "Cannot load the component " + library.m_path + ": " +
                          (message != nullptr ? message : "unknown reason"),
                      "vark-fuzzy");
    }
    library.m_create = resolve<VarkCreateObjectFn>(handle, "VARK_CreateObject", library.m_path);
    library.m_queryInterface =
        resolve<VarkQueryInterfaceFn>(handle, "VARK_QueryInterface", library.m_path);
    library.m_release = resolve<VarkReleaseObjectFn>(handle, "VARK_ReleaseObject", library.m_path);
    library.m_resultText = resolve<VarkResultTextFn>(handle, "VARK_ResultText", library.m_path);
    return library;
}

ComponentPtr ComponentLibrary::Create(std::string_view classOrProgId) const {
    VarkComponentObject* object = nullptr;
    const std::string id(classOrProgId);
    const int result = m_create(id.c_str(), &object);
    if (result != VARK_OK || object == nullptr) {
        throw Failure(err::kUnexpected,
                      "The component cannot create " + id + ": " + m_resultText(result),
                      "vark-fuzzy");
    }
    return ComponentPtr(object, m_release);
}

void* ComponentLibrary::query(const ComponentPtr& object, std::string_view interfaceId) const {
    const std::string id(interfaceId);
    void* pointer = m_queryInterface(object.get(), id.c_str());
    if (pointer == nullptr) {
        throw Failure(err::kUnexpected, "The component's object has no interface " + id,
                      "vark-fuzzy");
    }
    return pointer;
}

}  // namespace vark::app
