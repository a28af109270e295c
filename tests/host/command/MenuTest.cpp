#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <stdexcept>
#include <string>

#include "host/ComponentIds.h"
#include "host/menu_requeteur.h"
#include "support/Failure.h"

namespace vark::host {
namespace {

class RecordingItem : public IItemDef {
public:
    void SetID(const std::string& id) override {
        ++calls;
        if (onSetId) onSetId();
        this->id = id;
    }
    void SetGroup(bool) override { ++calls; }
    void SetSubType(std::int32_t) override { ++calls; }

    std::string id = "untouched";
    int calls = 0;
    std::function<void()> onSetId;
};

TEST(MenuTest, CaptionNameAndItemCount) {
    menu_requeteur menu;
    EXPECT_EQ(menu.Caption(), "Requêtes tavelins");
    EXPECT_EQ(menu.Name(), "Le requêteur tavelin\"");
    EXPECT_EQ(menu.ItemCount(), 2);
}

TEST(MenuTest, ItemsNameTheSiblingToolsAndOtherPositionsLeaveTheItemAlone) {
    struct Case {
        std::int32_t position;
        std::string id;
        int calls;
    } cases[] = {
        {0, "requete_tavelin.clsrequêtetavelin", 1},
        {1, "requete_tavelin.clsagregationtavelin", 1},
        {2, "untouched", 0},
        {-1, "untouched", 0},
        {INT_MAX, "untouched", 0},
    };
    menu_requeteur menu;
    for (const Case& c : cases) {
        RecordingItem item;
        EXPECT_EQ(menu.GetItemInfo(c.position, item), 0) << c.position;
        EXPECT_EQ(item.id, c.id) << c.position;
        EXPECT_EQ(item.calls, c.calls) << c.position;  // only the id is ever set
    }
}

TEST(MenuTest, ItemFailureIsReturnedNotThrown) {
    struct Case {
        const char* kind;
        std::function<void()> thrower;
        std::int32_t number;
    } cases[] = {
        {"Failure", [] { throw Failure(1234, "item refused"); }, 1234},
        {"std::exception", [] { throw std::runtime_error("no"); }, err::kUnexpected},
        {"anything", [] { throw 3; }, err::kUnexpected},
    };
    menu_requeteur menu;
    for (const Case& c : cases) {
        RecordingItem item;
        item.onSetId = c.thrower;
        std::int32_t result = 0;
        EXPECT_NO_THROW(result = menu.GetItemInfo(1, item)) << c.kind;
        EXPECT_EQ(result, c.number) << c.kind;
    }
}

TEST(MenuTest, AnswersForItsInterfacesOnly) {
    menu_requeteur menu;
    EXPECT_EQ(menu.QueryInterface(ids::kIid_IMenuDef), static_cast<IMenuDef*>(&menu));
    EXPECT_EQ(menu.QueryInterface(ids::kIid_IRootLevelMenu), static_cast<IRootLevelMenu*>(&menu));
    EXPECT_NE(menu.QueryInterface(ids::kIid__menu_requeteur), nullptr);
    EXPECT_EQ(menu.QueryInterface(ids::kIid_ICommand), nullptr);
}

}  // namespace
}  // namespace vark::host
