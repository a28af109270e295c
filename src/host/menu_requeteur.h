#pragma once

// The root-level menu that groups two sibling tools of the product family
// (a fuzzy-query tool and a fuzzy-aggregation tool, in other components).
// It does not hold the text-criterion command, and it keeps no state.

#include <cstdint>
#include <string>
#include <string_view>

#include "host/ComponentInterfaces.h"

namespace vark::host {

/// Default interface of the menu class; no members.
class _menu_requeteur {
public:
    virtual ~_menu_requeteur() = default;
};

class menu_requeteur final : public ComponentObject,
                             public IMenuDef,
                             public IRootLevelMenu,
                             public _menu_requeteur {
public:
    void* QueryInterface(std::string_view interfaceId) override;

    /// "Requêtes tavelins".
    std::string Caption() override;
    /// "Le requêteur tavelin" followed by one double quote.
    std::string Name() override;
    /// 2.
    std::int32_t ItemCount() override;
    /// Position 0 and 1 set the item's id to the sibling tools' program ids;
    /// any other position leaves the item untouched. Only the id is set: the
    /// host's defaults apply to everything else. A failure of the item's
    /// setter is returned as its number, never thrown.
    std::int32_t GetItemInfo(std::int32_t position, IItemDef& item) override;
};

}  // namespace vark::host
