// The QGIS plugin library: the functions QGIS looks for, and what the plugin
// builds into a main window and takes away again.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolBar>
#include <filesystem>

#include "dialog/CritereTexteEntry.h"
#include "host/ComponentEntry.h"
#include "host/ComponentIds.h"
#include "host/ComponentInterfaces.h"
#include "host/DialogEntry.h"
#include "host/HostState.h"
#include "host/qgis/QgisApplication.h"
#include "plugin/qgis/PluginUi.h"
#include "support/LibraryInfo.h"

namespace vark::qgis {
namespace {

const QString kCaption = QString::fromUtf8("Critère Texte V9.2  à 10.3VML2");
const QString kTooltip = QString::fromUtf8("Critère Texte V9.2 à 10.3VML2");
const QString kMenuCaption = QString::fromUtf8("Requêtes tavelins");
const std::string kSiblingQuery = "requete_tavelin.clsrequêtetavelin";
const std::string kSiblingAggregation = "requete_tavelin.clsagregationtavelin";

TEST(QgisPluginLibrary, ExportsWhatQgisLooksFor) {
    const std::filesystem::path path = VARK_PLUGIN_FILE;
    EXPECT_FALSE(std::filesystem::is_symlink(path)) << "QGIS ignores symbolic links";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    for (const char* symbol : {"name", "description", "category", "version", "icon"}) {
        auto text = reinterpret_cast<const QString* (*)()>(dlsym(library, symbol));
        ASSERT_TRUE(text) << symbol;
        ASSERT_TRUE(text()) << symbol;
        EXPECT_FALSE(text()->isEmpty()) << symbol;
    }
    auto type = reinterpret_cast<int (*)()>(dlsym(library, "type"));
    ASSERT_TRUE(type);
    EXPECT_EQ(type(), 1) << "a user-interface plugin";
    EXPECT_TRUE(dlsym(library, "classFactory"));
    EXPECT_TRUE(dlsym(library, "unload"));
    auto version = reinterpret_cast<const QString* (*)()>(dlsym(library, "version"));
    const LibraryVersion v = GetLibraryVersion();
    EXPECT_EQ(version()->toStdString(), std::to_string(v.major) + "." + std::to_string(v.minor) +
                                            "." + std::to_string(v.revision));
    auto icon = reinterpret_cast<const QString* (*)()>(dlsym(library, "icon"));
    EXPECT_EQ(QIcon(*icon()).pixmap(72, 72).size(), QSize(72, 72));
    dlclose(library);
}

class QgisPluginUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A registry of our own: the sibling tools are not installed unless
        // a test registers them.
        ASSERT_TRUE(m_config.isValid());
        m_savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        SetCriterionDialogEntry([this] { ++m_dialogShown; });
        m_liveBefore = host::LiveComponentObjects();
        m_window.menuBar()->addMenu(QStringLiteral("&File"));
        m_help = m_window.menuBar()->addMenu(QStringLiteral("&Help"));
        m_application = CreateQgisApplication(nullptr);
    }
    void TearDown() override {
        m_ui.reset();
        g_pApplication().reset();
        RegisterCritereTexteEntry();
        qputenv("XDG_CONFIG_HOME", m_savedConfig);
    }

    PluginUi& install() {
        PluginWindow target;
        target.window = &m_window;
        target.addToolBar = [this](const QString& name) { return m_window.addToolBar(name); };
        target.menuBefore = m_help->menuAction();
        m_ui = std::make_unique<PluginUi>(target, m_application);
        m_ui->install();
        return *m_ui;
    }

    QToolBar* kelmo() const {
        return m_window.findChild<QToolBar*>(QStringLiteral("KELMO"), Qt::FindDirectChildrenOnly);
    }

    QStringList menuTitles() const {
        QStringList titles;
        for (QAction* action : m_window.menuBar()->actions()) titles << action->text();
        return titles;
    }

    QTemporaryDir m_config;
    QByteArray m_savedConfig;
    QMainWindow m_window;
    QMenu* m_help = nullptr;
    std::shared_ptr<host::Application> m_application;
    std::unique_ptr<PluginUi> m_ui;
    int m_dialogShown = 0;
    std::int32_t m_liveBefore = 0;
};

TEST_F(QgisPluginUiTest, CommandInItsCategoryToolbarAndRootMenuBeforeHelp) {
    install();
    EXPECT_EQ(g_pApplication(), m_application) << "OnCreate got the QGIS application";

    QToolBar* toolbar = kelmo();
    ASSERT_TRUE(toolbar);
    ASSERT_EQ(toolbar->actions().size(), 1);
    QAction* command = toolbar->actions().front();
    EXPECT_EQ(command->text(), kCaption);
    EXPECT_EQ(command->toolTip(), kTooltip);
    EXPECT_EQ(command->statusTip(), kTooltip);
    EXPECT_EQ(command->objectName(), QString::fromUtf8("KELMO_Critère texte 9.2 a 10.3VML"));
    EXPECT_FALSE(command->icon().isNull());
    EXPECT_TRUE(command->isEnabled());
    command->trigger();
    EXPECT_EQ(m_dialogShown, 1);

    EXPECT_EQ(menuTitles(), (QStringList{"&File", kMenuCaption, "&Help"}));
    QMenu* menu = m_ui->menu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->objectName(), QString::fromUtf8("Le requêteur tavelin\""));
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 2);
    const std::string expected[] = {kSiblingQuery, kSiblingAggregation};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(items[i]->text().toStdString(), expected[i]);
        EXPECT_FALSE(items[i]->isEnabled()) << "no component provides " << expected[i];
    }

    m_ui->remove();
    EXPECT_FALSE(kelmo());
    EXPECT_EQ(menuTitles(), (QStringList{"&File", "&Help"}));
    EXPECT_EQ(host::LiveComponentObjects(), m_liveBefore);
    m_ui->remove();
}

TEST_F(QgisPluginUiTest, SharedToolbarStaysWithTheOtherToolsCommands) {
    QToolBar* shared = m_window.addToolBar(QStringLiteral("KELMO"));
    shared->setObjectName(QStringLiteral("KELMO"));
    QAction* other = shared->addAction(QStringLiteral("Another tool"));
    install();
    EXPECT_EQ(kelmo(), shared);
    EXPECT_EQ(shared->actions().size(), 2);
    m_ui->remove();
    ASSERT_EQ(kelmo(), shared);
    EXPECT_EQ(shared->actions(), QList<QAction*>{other});
}

TEST_F(QgisPluginUiTest, RegisteredSiblingToolIsOfferedAndRuns) {
    {
        QSettings registry(QString::fromStdString(host::ComponentRegistryFile()),
                           QSettings::IniFormat);
        // The registry names a command class of a loadable library: this
        // library's own command stands in for the sibling query tool.
        const QString classId = QString::fromLatin1(ids::kClsid_clsRequeteText.data() + 1,
                                                    ids::kClsid_clsRequeteText.size() - 2);
        registry.beginGroup("CLSID/" + classId);
        registry.setValue("Class", "clsrequêtetavelin");
        registry.setValue("ProgID", QString::fromStdString(kSiblingQuery));
        registry.setValue("Library",
                          QString::fromStdString(JoinPath(LibraryFolder(), LibraryFileName())));
        registry.endGroup();
    }
    install();
    const QList<QAction*> items = m_ui->menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[0]->isEnabled());
    EXPECT_EQ(items[0]->text(), kCaption);
    EXPECT_FALSE(items[1]->isEnabled());
    items[0]->trigger();
    EXPECT_EQ(m_dialogShown, 1);
    m_ui->remove();
    EXPECT_EQ(host::LiveComponentObjects(), m_liveBefore);
}

}  // namespace
}  // namespace vark::qgis
