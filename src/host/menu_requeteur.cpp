#include "host/menu_requeteur.h"

#include "host/ComponentIds.h"
#include "support/Failure.h"

namespace vark::host {

namespace {
constexpr std::string_view kCaption = "Requêtes tavelins";
constexpr std::string_view kName = "Le requêteur tavelin\"";
constexpr std::string_view kQueryToolProgId = "requete_tavelin.clsrequêtetavelin";
constexpr std::string_view kAggregationToolProgId = "requete_tavelin.clsagregationtavelin";
}  // namespace

void* menu_requeteur::QueryInterface(std::string_view interfaceId) {
    if (ids::IdEquals(interfaceId, ids::kIid_IMenuDef)) {
        return static_cast<IMenuDef*>(this);
    }
    if (ids::IdEquals(interfaceId, ids::kIid_IRootLevelMenu)) {
        return static_cast<IRootLevelMenu*>(this);
    }
    if (ids::IdEquals(interfaceId, ids::kIid__menu_requeteur)) {
        return static_cast<_menu_requeteur*>(this);
    }
    return nullptr;
}

std::string menu_requeteur::Caption() {
    return std::string(kCaption);
}

std::string menu_requeteur::Name() {
    return std::string(kName);
}

std::int32_t menu_requeteur::ItemCount() {
    return 2;
}

std::int32_t menu_requeteur::GetItemInfo(std::int32_t position, IItemDef& item) {
    try {
        switch (position) {
            case 0:
                item.SetID(std::string(kQueryToolProgId));
                break;
            case 1:
                item.SetID(std::string(kAggregationToolProgId));
                break;
            default:
                break;
        }
        return 0;
    } catch (...) {
        // The host gets the failure as the call's result; a result of 0 would
        // read as success, so a failure without a number gets one.
        try {
            const std::int32_t number = CurrentFailure().number();
            return number != 0 ? number : err::kUnexpected;
        } catch (...) {
            return err::kUnexpected;
        }
    }
}

}  // namespace vark::host
