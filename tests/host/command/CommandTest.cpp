#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "CommandFixture.h"
#include "support/LibraryInfo.h"

namespace vark::host::test {
namespace {

using fake::FakeMap;
using fake::FakeMapDocument;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

using CommandIdentityTest = CommandFixture;

TEST_F(CommandIdentityTest, TextsCarryTheRevisionOfTheLibraryWhereTheyShould) {
    clsRequeteText command;
    const std::string revision = std::to_string(GetLibraryVersion().revision);
    struct Case {
        const char* member;
        std::string actual;
        std::string expected;
    } cases[] = {
        {"Name", command.Name(), "KELMO_Critère texte 9.2 a 10.3VML"},
        {"Caption", command.Caption(), "Critère Texte V9.2  à 10.3VML" + revision},
        {"Tooltip", command.Tooltip(), "Critère Texte V9.2 à 10.3VML" + revision},
        {"Message", command.Message(), "Critère Texte V9.2 à 10.3VML" + revision},
        {"Category", command.Category(), "KELMO"},
        {"HelpFile", command.HelpFile(), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.member;
    }
    // The build's version is 10.3.2.
    for (const std::string& text : {command.Caption(), command.Tooltip(), command.Message()}) {
        EXPECT_TRUE(text.ends_with("10.3VML2")) << text;
    }
    EXPECT_EQ(command.HelpContextID(), 0);
    EXPECT_TRUE(command.Enabled());
    EXPECT_FALSE(command.Checked());
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(CommandIdentityTest, BitmapIsA72By72SixteenColourBmpOf2710Bytes) {
    clsRequeteText command;
    const auto bmp = command.Bitmap();
    ASSERT_EQ(bmp.size(), 2710u);
    const std::uint8_t* p = bmp.data();
    EXPECT_EQ(std::memcmp(p, "BM", 2), 0);
    EXPECT_EQ(le32(p + 2), 2710u);          // file size
    EXPECT_EQ(le32(p + 10), 54u + 64u);     // pixels after headers and 16 colours
    EXPECT_EQ(le32(p + 14), 40u);           // info header size
    EXPECT_EQ(le32(p + 18), 72u);           // width
    EXPECT_EQ(le32(p + 22), 72u);           // height (bottom-up)
    EXPECT_EQ(le16(p + 26), 1u);            // planes
    EXPECT_EQ(le16(p + 28), 4u);            // bits per pixel
    EXPECT_EQ(le32(p + 30), 0u);            // uncompressed
    EXPECT_EQ(le32(p + 34), 72u * 36u);     // pixel bytes
    EXPECT_EQ(command.Bitmap().data(), p);  // the same picture every time
}

using CommandSubscriptionTest = CommandFixture;

TEST_F(CommandSubscriptionTest, ApplicationHookIsKeptAndBothSourcesSubscribed) {
    clsRequeteText command;
    command.OnCreate(m_app);
    auto document = m_app->document();
    auto map = m_app->focusMap();

    EXPECT_EQ(command.application(), m_app);
    EXPECT_EQ(g_pApplication(), m_app);
    EXPECT_EQ(command.mapHook(), nullptr);
    EXPECT_EQ(command.documentEvents(), document);
    EXPECT_EQ(command.mapActiveViewEvents(), map);
    EXPECT_EQ(document->adviseCalls(), 1);
    EXPECT_EQ(map->adviseCalls(), 1);
    EXPECT_EQ(map->viewNotificationCalls(), std::vector<bool>{true});
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(CommandSubscriptionTest, FocusMapChangedForTheSubscribedMapChangesNothing) {
    clsRequeteText command;
    command.OnCreate(m_app);
    auto map = m_app->focusMap();
    map->fireFocusMapChanged();
    map->fireFocusMapChanged();
    EXPECT_EQ(map->adviseCalls(), 1);
    EXPECT_EQ(map->unadviseCalls(), 0);
    EXPECT_EQ(map->viewNotificationCalls().size(), 1u);
    EXPECT_EQ(command.mapActiveViewEvents(), map);
}

TEST_F(CommandSubscriptionTest, FocusMapChangedMovesOnlyTheViewSubscription) {
    clsRequeteText command;
    command.OnCreate(m_app);
    auto document = m_app->document();
    auto oldMap = m_app->focusMap();
    auto newMap = document->addMap("Second");
    document->setFocusMap(newMap);
    oldMap->fireFocusMapChanged();

    EXPECT_EQ(command.mapActiveViewEvents(), newMap);
    EXPECT_TRUE(oldMap->viewSinks().empty());
    EXPECT_EQ(newMap->viewSinks().size(), 1u);
    EXPECT_EQ(newMap->viewNotificationCalls(), std::vector<bool>{true});
    EXPECT_EQ(document->adviseCalls(), 1);
    EXPECT_EQ(document->unadviseCalls(), 0);
}

TEST_F(CommandSubscriptionTest, NewOrOpenedDocumentMovesOnlyTheDocumentSubscription) {
    const std::function<void(FakeMapDocument&)> events[] = {
        [](FakeMapDocument& d) { d.fireNewDocument(); },
        [](FakeMapDocument& d) { d.fireOpenDocument(); },
    };
    for (const auto& fire : events) {
        auto app = std::make_shared<fake::FakeApplication>();
        clsRequeteText command;
        command.OnCreate(app);
        auto oldDocument = app->document();
        auto oldMap = app->focusMap();
        auto newDocument = std::make_shared<FakeMapDocument>();
        app->setDocument(newDocument);
        fire(*oldDocument);

        EXPECT_EQ(command.documentEvents(), newDocument);
        EXPECT_TRUE(oldDocument->documentSinks().empty());
        EXPECT_EQ(newDocument->documentSinks().size(), 1u);
        // A document change alone leaves the view subscription where it was.
        EXPECT_EQ(command.mapActiveViewEvents(), oldMap);
        EXPECT_EQ(newDocument->focusMap()->adviseCalls(), 0);
    }
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(CommandSubscriptionTest, OtherEventsDoNothingAndDocumentEventsAnswerFalse) {
    clsRequeteText command;
    command.OnCreate(m_app);
    auto document = m_app->document();
    auto map = m_app->focusMap();
    m_app->setDocument(std::make_shared<FakeMapDocument>());  // would move on New/Open

    EXPECT_FALSE(command.ActiveViewChanged());
    EXPECT_FALSE(command.BeforeCloseDocument());
    EXPECT_FALSE(command.CloseDocument());
    EXPECT_FALSE(command.MapsChanged());
    EXPECT_FALSE(command.NewDocument());  // answers false after moving too
    command.AfterDraw();
    command.AfterItemDraw();
    command.ContentsChanged();
    command.ContentsCleared();
    command.ItemAdded();
    command.ItemDeleted();
    command.ItemReordered();
    command.SelectionChanged();
    command.SpatialReferenceChanged();
    command.ViewRefreshed();

    EXPECT_EQ(command.mapActiveViewEvents(), map);
    EXPECT_EQ(map->adviseCalls(), 1);
    EXPECT_EQ(document->unadviseCalls(), 1);  // from NewDocument only
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(CommandSubscriptionTest, HooksOtherThanAnApplication) {
    auto earlier = std::make_shared<fake::FakeApplication>();
    struct Case {
        const char* name;
        std::shared_ptr<Hook> hook;
        bool expectMapHook;
    };
    auto hookMap = std::make_shared<FakeMap>("Hook map");
    const Case cases[] = {
        {"map hook", std::make_shared<fake::FakeMapHook>(hookMap), true},
        {"neither kind", std::make_shared<fake::FakeOtherHook>(), false},
        {"no hook", nullptr, false},
    };
    for (const Case& c : cases) {
        g_pApplication() = earlier;  // set by an earlier command: left alone
        clsRequeteText command;
        command.OnCreate(c.hook);
        EXPECT_EQ(g_pApplication(), earlier) << c.name;
        EXPECT_EQ(command.application(), nullptr) << c.name;
        EXPECT_EQ(command.documentEvents(), nullptr) << c.name;
        if (c.expectMapHook) {
            EXPECT_EQ(command.mapHook(), c.hook) << c.name;
            EXPECT_EQ(command.mapActiveViewEvents(), hookMap) << c.name;
            EXPECT_EQ(hookMap->viewNotificationCalls(), std::vector<bool>{true});
            command.FocusMapChanged();
            EXPECT_EQ(hookMap->adviseCalls(), 1);
            EXPECT_EQ(hookMap->viewNotificationCalls().size(), 1u);
        } else {
            EXPECT_EQ(command.mapHook(), nullptr) << c.name;
            EXPECT_EQ(command.mapActiveViewEvents(), nullptr) << c.name;
        }
    }
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(CommandSubscriptionTest, ApplicationWithoutMapsIsKeptButNotSubscribed) {
    m_app->setMapApplication(false);
    clsRequeteText command;
    command.OnCreate(m_app);
    EXPECT_EQ(g_pApplication(), m_app);
    EXPECT_EQ(command.documentEvents(), nullptr);
    EXPECT_EQ(command.mapActiveViewEvents(), nullptr);
    EXPECT_EQ(m_app->document()->adviseCalls(), 0);
}

TEST_F(CommandSubscriptionTest, ReleaseDropsBothSubscriptionsAndKeepsTheApplication) {
    auto document = m_app->document();
    auto map = m_app->focusMap();
    {
        clsRequeteText command;
        command.OnCreate(m_app);
    }
    EXPECT_TRUE(document->documentSinks().empty());
    EXPECT_TRUE(map->viewSinks().empty());
    EXPECT_EQ(document->unmatchedUnadviseCalls(), 0);
    EXPECT_EQ(map->unmatchedUnadviseCalls(), 0);
    EXPECT_EQ(g_pApplication(), m_app);

    clsRequeteText command;
    command.OnCreate(m_app);
    command.Class_Terminate();
    EXPECT_EQ(command.application(), nullptr);
    EXPECT_EQ(command.documentEvents(), nullptr);
    EXPECT_EQ(command.mapActiveViewEvents(), nullptr);
    EXPECT_EQ(document->unadviseCalls(), 2);  // once per command, not again at destruction
}

using CommandClickTest = CommandFixture;

TEST_F(CommandClickTest, ClickAndBothMainProgramsShowTheDialog) {
    clsRequeteText command;
    command.OnClick();  // no dialog registered yet: nothing happens
    int shown = 0;
    SetCriterionDialogEntry([&] { ++shown; });
    command.OnClick();
    command.Mainprog();
    command.mainprog2();
    EXPECT_EQ(shown, 3);
    EXPECT_TRUE(m_ui->calls.empty());
}

}  // namespace
}  // namespace vark::host::test
