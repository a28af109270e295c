#pragma once

// Loads the component library and creates its objects through its exported
// entry points, as any host of the component does.

#include <memory>
#include <string>
#include <string_view>

#include "host/ComponentEntry.h"

namespace vark::app {

/// An object created by the component; released through the component.
using ComponentPtr = std::unique_ptr<VarkComponentObject, VarkReleaseObjectFn>;

class ComponentLibrary {
public:
    /// Loads VARK_fuzzy.so from `folder` and resolves its entry points.
    /// Throws Failure naming the file and the loader's message when the
    /// library cannot be loaded or lacks an entry point.
    static ComponentLibrary Load(const std::string& folder);

    /// Creates the object of `classOrProgId`. Throws Failure when the
    /// component refuses.
    ComponentPtr Create(std::string_view classOrProgId) const;

    /// The interface `interfaceId` of `object` as an `Interface*`. Throws
    /// Failure when the object does not implement it.
    template <class Interface>
    Interface* Query(const ComponentPtr& object, std::string_view interfaceId) const {
        return static_cast<Interface*>(query(object, interfaceId));
    }

    const std::string& path() const { return m_path; }

private:
    void* query(const ComponentPtr& object, std::string_view interfaceId) const;

    std::string m_path;
    VarkCreateObjectFn m_create = nullptr;
    VarkQueryInterfaceFn m_queryInterface = nullptr;
    VarkReleaseObjectFn m_release = nullptr;
    VarkResultTextFn m_resultText = nullptr;
};

}  // namespace vark::app
