#include <gtest/gtest.h>

#include <QSettings>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/ComponentEntry.h"
#include "host/ComponentIds.h"
#include "host/ComponentInterfaces.h"
#include "support/LibraryInfo.h"

namespace vark::host {
namespace {

namespace fs = std::filesystem;

struct Released {
    void operator()(VarkComponentObject* object) const { VARK_ReleaseObject(object); }
};
using ObjectPtr = std::unique_ptr<VarkComponentObject, Released>;

ObjectPtr create(const char* id, int* result = nullptr) {
    VarkComponentObject* object = reinterpret_cast<VarkComponentObject*>(1);
    const int r = VARK_CreateObject(id, &object);
    if (result != nullptr) *result = r;
    return ObjectPtr(object);
}

TEST(ComponentEntryTest, CreatesEitherClassByClassIdOrProgramId) {
    struct Case {
        const char* id;
        std::string_view interfaceId;
    } cases[] = {
        {"{A8DD6A25-82AE-4C3D-A0C1-6377234F7292}", ids::kIid_ICommand},
        {"{a8dd6a25-82ae-4c3d-a0c1-6377234f7292}", ids::kIid_ICommand},
        {"VARK_fuzzy.clsRequeteText", ids::kIid_ICommand},
        {"vark_fuzzy.clsrequetetext", ids::kIid_ICommand},
        {"{4CDD0063-E19E-4A31-B430-0ED3CC724E70}", ids::kIid_IMenuDef},
        {"VARK_fuzzy.menu_requeteur", ids::kIid_IMenuDef},
    };
    for (const Case& c : cases) {
        int result = -1;
        ObjectPtr object = create(c.id, &result);
        ASSERT_EQ(result, VARK_OK) << c.id;
        ASSERT_NE(object, nullptr) << c.id;
        const std::string iid(c.interfaceId);
        EXPECT_NE(VARK_QueryInterface(object.get(), iid.c_str()), nullptr) << c.id;
        EXPECT_EQ(VARK_QueryInterface(object.get(), "{00000000-0000-0000-0000-000000000001}"),
                  nullptr);
    }
    ObjectPtr command = create("VARK_fuzzy.clsRequeteText");
    const std::string iid(ids::kIid_ICommand);
    auto* icommand = static_cast<ICommand*>(VARK_QueryInterface(command.get(), iid.c_str()));
    EXPECT_EQ(icommand->Category(), "KELMO");
}

TEST(ComponentEntryTest, UnknownOrMissingIdsFailCleanly) {
    struct Case {
        const char* id;
        int result;
    } cases[] = {
        {"VARK_fuzzy.nothing", VARK_E_CLASS_NOT_AVAILABLE},
        {"", VARK_E_CLASS_NOT_AVAILABLE},
        {"{A8DD6A25-82AE-4C3D-A0C1-6377234F7293}", VARK_E_CLASS_NOT_AVAILABLE},
        {"requete_tavelin.clsagregationtavelin", VARK_E_CLASS_NOT_AVAILABLE},
        {nullptr, VARK_E_INVALID_ARGUMENT},
    };
    for (const Case& c : cases) {
        int result = -1;
        ObjectPtr object = create(c.id, &result);
        EXPECT_EQ(result, c.result) << (c.id ? c.id : "null");
        EXPECT_EQ(object, nullptr) << (c.id ? c.id : "null");
    }
    EXPECT_EQ(VARK_CreateObject("VARK_fuzzy.clsRequeteText", nullptr), VARK_E_INVALID_ARGUMENT);
    EXPECT_EQ(VARK_QueryInterface(nullptr, "{36B06538-4437-11D1-B970-080009EE4E51}"), nullptr);
    VARK_ReleaseObject(nullptr);
}

TEST(ComponentEntryTest, CanUnloadOnlyWithoutLiveObjects) {
    ASSERT_EQ(VARK_CanUnloadNow(), 1);
    {
        ObjectPtr command = create("VARK_fuzzy.clsRequeteText");
        ObjectPtr menu = create("VARK_fuzzy.menu_requeteur");
        EXPECT_EQ(VARK_CanUnloadNow(), 0);
        command.reset();
        EXPECT_EQ(VARK_CanUnloadNow(), 0);
    }
    EXPECT_EQ(VARK_CanUnloadNow(), 1);
}

class ComponentRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_oldConfig = old ? old : "";
        m_hadConfig = old != nullptr;
        m_root = fs::temp_directory_path() /
                 ("vark-registry-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
    }
    void TearDown() override {
        if (m_hadConfig) {
            setenv("XDG_CONFIG_HOME", m_oldConfig.c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        fs::remove_all(m_root);
    }

    fs::path m_root;
    std::string m_oldConfig;
    bool m_hadConfig = false;
};

TEST_F(ComponentRegistryTest, RegisterEntersBothClassesAndUnregisterRemovesOnlyThem) {
    EXPECT_EQ(ComponentRegistryFile(), (m_root / "VARK" / "components.ini").string());
    {
        // Another component's class, which must survive our unregistration.
        QSettings other(QString::fromStdString(ComponentRegistryFile()), QSettings::IniFormat);
        other.setValue("CLSID/11111111-2222-3333-4444-555555555555/ProgID", "Other.cls");
    }
    ASSERT_EQ(VARK_RegisterServer(), VARK_OK);
    EXPECT_EQ(VARK_RegisterServer(), VARK_OK);  // again: same entries

    const std::string library = JoinPath(LibraryFolder(), LibraryFileName());
    EXPECT_TRUE(fs::exists(library)) << library;
    struct Case {
        const char* lookup;
        const char* classId;
        const char* className;
        const char* progId;
    } cases[] = {
        {"VARK_fuzzy.clsRequeteText", "{A8DD6A25-82AE-4C3D-A0C1-6377234F7292}", "clsRequeteText",
         "VARK_fuzzy.clsRequeteText"},
        {"{4cdd0063-e19e-4a31-b430-0ed3cc724e70}", "{4CDD0063-E19E-4A31-B430-0ED3CC724E70}",
         "menu_requeteur", "VARK_fuzzy.menu_requeteur"},
    };
    for (const Case& c : cases) {
        const auto found = FindRegisteredClass(c.lookup);
        ASSERT_TRUE(found.has_value()) << c.lookup;
        EXPECT_EQ(found->classId, c.classId);
        EXPECT_EQ(found->className, c.className);
        EXPECT_EQ(found->progId, c.progId);
        EXPECT_EQ(found->library, library);
        EXPECT_EQ(found->threadingModel, "Apartment");
        EXPECT_EQ(found->typeLibraryId, "{F1ABAB55-5A17-4600-A68A-E96AAB0DA855}");
        EXPECT_EQ(found->typeLibraryVersion, "1.0");
    }
    {
        QSettings registry(QString::fromStdString(ComponentRegistryFile()), QSettings::IniFormat);
        EXPECT_EQ(registry.value("TypeLib/F1ABAB55-5A17-4600-A68A-E96AAB0DA855/Name").toString(),
                  "VARK_fuzzy");
        EXPECT_EQ(registry.value("ProgID/VARK_fuzzy.menu_requeteur/CLSID").toString(),
                  "{4CDD0063-E19E-4A31-B430-0ED3CC724E70}");
    }

    ASSERT_EQ(VARK_UnregisterServer(), VARK_OK);
    EXPECT_EQ(VARK_UnregisterServer(), VARK_OK);  // nothing left to remove: fine
    EXPECT_FALSE(FindRegisteredClass("VARK_fuzzy.clsRequeteText").has_value());
    EXPECT_FALSE(FindRegisteredClass("VARK_fuzzy.menu_requeteur").has_value());
    EXPECT_TRUE(FindRegisteredClass("Other.cls").has_value());
    QSettings registry(QString::fromStdString(ComponentRegistryFile()), QSettings::IniFormat);
    EXPECT_FALSE(registry.contains("TypeLib/F1ABAB55-5A17-4600-A68A-E96AAB0DA855/Name"));
}

TEST_F(ComponentRegistryTest, UnwritableRegistryIsReportedAsAFailure) {
    // A file where the registry's folder should be: no folder can be made.
    std::ofstream(m_root / "VARK") << "not a folder";
    EXPECT_EQ(VARK_RegisterServer(), VARK_E_REGISTRY);
    EXPECT_EQ(VARK_UnregisterServer(), VARK_E_REGISTRY);
}

}  // namespace
}  // namespace vark::host
