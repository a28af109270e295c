#pragma once

// The interfaces through which a map host talks to the component's objects:
// the command (ICommand), the root-level menu (IMenuDef, IRootLevelMenu) and
// the object base that the component entry points hand out.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "host/host.h"

namespace vark::host {

/// Base of every object the component creates for a host. Counts live
/// objects, so the library can say whether it may be unloaded.
class ComponentObject {
public:
    ComponentObject();
    virtual ~ComponentObject();
    ComponentObject(const ComponentObject&) = delete;
    ComponentObject& operator=(const ComponentObject&) = delete;

    /// The interface named by `interfaceId` (an id of host/ComponentIds.h,
    /// compared without regard to case), as a pointer to that interface type
    /// (ICommand*, IMenuDef*, ...), valid while the object lives; nullptr
    /// when the object does not implement it.
    virtual void* QueryInterface(std::string_view interfaceId) = 0;
};

/// Number of ComponentObject instances alive in this process.
std::int32_t LiveComponentObjects();

/// A command as the host sees it: identity, appearance, creation and click.
/// Implementations never let a failure escape any member.
class ICommand {
public:
    virtual ~ICommand() = default;
    virtual bool Enabled() = 0;
    virtual bool Checked() = 0;
    virtual std::string Name() = 0;
    virtual std::string Caption() = 0;
    virtual std::string Tooltip() = 0;
    virtual std::string Message() = 0;
    virtual std::string HelpFile() = 0;
    virtual std::int32_t HelpContextID() = 0;
    /// The command's picture as the bytes of a BMP file; empty when none.
    virtual std::span<const std::uint8_t> Bitmap() = 0;
    virtual std::string Category() = 0;
    /// Called once after creation with the host's application or map hook.
    virtual void OnCreate(std::shared_ptr<Hook> hook) = 0;
    virtual void OnClick() = 0;
};

/// One item of a menu as the host fills it through IMenuDef::GetItemInfo.
/// Its setters may fail (throw).
class IItemDef {
public:
    virtual ~IItemDef() = default;
    /// Program id of the command the item shows.
    virtual void SetID(const std::string& id) = 0;
    /// Starts a new group (separator before the item).
    virtual void SetGroup(bool group) = 0;
    virtual void SetSubType(std::int32_t subType) = 0;
};

/// A menu definition.
class IMenuDef {
public:
    virtual ~IMenuDef() = default;
    virtual std::string Caption() = 0;
    virtual std::string Name() = 0;
    virtual std::int32_t ItemCount() = 0;
    /// Fills `item` for the 0-based `position`. Returns 0 on success,
    /// otherwise the number of the failure that stopped it.
    virtual std::int32_t GetItemInfo(std::int32_t position, IItemDef& item) = 0;
};

/// Marks a menu that may stand on the host's top-level menu bar. No members.
class IRootLevelMenu {
public:
    virtual ~IRootLevelMenu() = default;
};

}  // namespace vark::host
