#pragma once

// A command object of a component, created through the component entry
// points: the text-criterion command of this library, or a sibling tool's
// command found through the per-user component registry.

#include <memory>
#include <string>

#include "host/ComponentEntry.h"
#include "host/ComponentInterfaces.h"

namespace vark::qgis {

class ComponentCommand {
public:
    /// The command `progId` of this library, created with its own entry
    /// points. Throws Failure when it cannot be created or is not a command.
    static std::unique_ptr<ComponentCommand> CreateOwn(const std::string& progId);
    /// The command `progId` of another component: the registry gives its
    /// class id and library; the library is loaded and asked for the class.
    /// nullptr when the program id is not registered, the library cannot be
    /// loaded, lacks the entry points, or does not create a command.
    static std::unique_ptr<ComponentCommand> LoadRegistered(const std::string& progId);

    ~ComponentCommand();
    ComponentCommand(const ComponentCommand&) = delete;
    ComponentCommand& operator=(const ComponentCommand&) = delete;

    host::ICommand& command() const { return *m_command; }

private:
    ComponentCommand() = default;

    void* m_library = nullptr;
    VarkReleaseObjectFn m_release = nullptr;
    VarkComponentObject* m_object = nullptr;
    host::ICommand* m_command = nullptr;
};

/// The root menu object of this library, created with its entry points.
class ComponentMenu {
public:
    /// Throws Failure when it cannot be created or is not a menu.
    explicit ComponentMenu(const std::string& progId);
    ~ComponentMenu();
    ComponentMenu(const ComponentMenu&) = delete;
    ComponentMenu& operator=(const ComponentMenu&) = delete;

    host::IMenuDef& menu() const { return *m_menu; }

private:
    VarkComponentObject* m_object = nullptr;
    host::IMenuDef* m_menu = nullptr;
};

}  // namespace vark::qgis
