#pragma once

// What the plugin adds to the QGIS window: the text-criterion command in a
// toolbar named after its category, and the root menu of the product family
// on the menu bar. Kept apart from QGIS's plugin interface so that it can be
// built into any main window.

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QToolBar>
#include <functional>
#include <memory>
#include <vector>

#include "host/ComponentInterfaces.h"
#include "host/host.h"

class QIcon;
class QMainWindow;

class QString;

namespace vark::qgis {

class ComponentCommand;
class ComponentMenu;

/// The command's picture (the bytes of a BMP file) as an icon; a null icon
/// when the command has none or the bytes are not an image.
QIcon CommandIcon(host::ICommand& command);

/// Where the plugin puts things.
struct PluginWindow {
    QMainWindow* window = nullptr;
    /// Makes a new toolbar called `name` in the window (QGIS lists its
    /// toolbars in its own menus, so it makes them itself).
    std::function<QToolBar*(const QString& name)> addToolBar;
    /// The top-level menu the root menu goes in front of (nullptr: at the
    /// end of the menu bar).
    QAction* menuBefore = nullptr;
};

class PluginUi {
public:
    PluginUi(PluginWindow window, std::shared_ptr<host::Application> application);
    /// Calls remove().
    ~PluginUi();
    PluginUi(const PluginUi&) = delete;
    PluginUi& operator=(const PluginUi&) = delete;

    /// Creates the command and the root menu through the component entry
    /// points, hands the command the application (OnCreate), puts the
    /// command in the toolbar named after its category (reusing one of that
    /// name already in the window) and the root menu on the menu bar. Each
    /// item of the menu runs the command its program id names when a
    /// registered component provides it, and is disabled otherwise.
    /// Throws Failure when the command or the menu cannot be created; what
    /// was added until then stays until remove().
    void install();
    /// Takes away everything install() added (a toolbar it found already
    /// there stays, without the command) and releases the component objects.
    /// Never throws; safe to call more than once.
    void remove() noexcept;

    QAction* commandAction() const { return m_commandAction; }
    QToolBar* toolBar() const { return m_toolBar; }
    QMenu* menu() const { return m_menu; }

private:
    void installCommand();
    void installMenu();

    PluginWindow m_window;
    std::shared_ptr<host::Application> m_application;
    std::unique_ptr<ComponentCommand> m_command;
    std::unique_ptr<ComponentMenu> m_menuDef;
    std::vector<std::unique_ptr<ComponentCommand>> m_itemCommands;
    QPointer<QAction> m_commandAction;
    QPointer<QToolBar> m_toolBar;
    bool m_ownToolBar = false;
    QPointer<QMenu> m_menu;
};

}  // namespace vark::qgis
