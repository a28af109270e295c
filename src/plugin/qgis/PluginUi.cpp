#include "plugin/qgis/PluginUi.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QToolBar>

#include "host/ComponentIds.h"
#include "plugin/qgis/ComponentCommand.h"
#include "support/Failure.h"

namespace vark::qgis {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

/// Collects what the menu definition says of one item.
class ItemInfo : public host::IItemDef {
public:
    void SetID(const std::string& id) override { m_id = id; }
    void SetGroup(bool group) override { m_group = group; }
    void SetSubType(std::int32_t) override {}

    const std::string& id() const { return m_id; }
    bool group() const { return m_group; }

private:
    std::string m_id;
    bool m_group = false;
};

/// An action showing `command`, which runs it when triggered. The command
/// catches its own failures, so nothing reaches Qt's event loop.
QAction* makeCommandAction(host::ICommand& command, QObject* parent) {
    auto* action = new QAction(CommandIcon(command), q(command.Caption()), parent);
    action->setObjectName(q(command.Name()));
    action->setToolTip(q(command.Tooltip()));
    action->setStatusTip(q(command.Message()));
    action->setEnabled(command.Enabled());
    QObject::connect(action, &QAction::triggered, action, [&command] { command.OnClick(); });
    return action;
}

}  // namespace

QIcon CommandIcon(host::ICommand& command) {
    const auto bytes = command.Bitmap();
    QPixmap pixmap;
    if (bytes.empty() ||
        !pixmap.loadFromData(bytes.data(), static_cast<uint>(bytes.size()), "BMP")) {
        return {};
    }
    return QIcon(pixmap);
}

PluginUi::PluginUi(PluginWindow window, std::shared_ptr<host::Application> application)
    : m_window(std::move(window)), m_application(std::move(application)) {}

PluginUi::~PluginUi() {
    remove();
}

void PluginUi::install() {
    installCommand();
    installMenu();
}

void PluginUi::installCommand() {
    m_command = ComponentCommand::CreateOwn(std::string(ids::kProgId_clsRequeteText));
    host::ICommand& command = m_command->command();
    command.OnCreate(m_application);
    m_commandAction = makeCommandAction(command, m_window.window);

    const QString category = q(command.Category());
    m_toolBar = m_window.window->findChild<QToolBar*>(category, Qt::FindDirectChildrenOnly);
    m_ownToolBar = !m_toolBar;
    if (m_ownToolBar) {
        m_toolBar = m_window.addToolBar(category);
        if (!m_toolBar) {
            throw Failure(err::kHostFailure, "No toolbar " + command.Category(),
                          "VARK_fuzzy_plugin");
        }
        m_toolBar->setObjectName(category);
        m_toolBar->setWindowTitle(category);
    }
    m_toolBar->addAction(m_commandAction);
}

void PluginUi::installMenu() {
    m_menuDef = std::make_unique<ComponentMenu>(std::string(ids::kProgId_menu_requeteur));
    host::IMenuDef& definition = m_menuDef->menu();
    m_menu = new QMenu(q(definition.Caption()), m_window.window);
    m_menu->setObjectName(q(definition.Name()));
    const std::int32_t count = definition.ItemCount();
    for (std::int32_t position = 0; position < count; ++position) {
        ItemInfo item;
        if (definition.GetItemInfo(position, item) != 0 || item.id().empty()) {
            continue;
        }
        if (item.group()) {
            m_menu->addSeparator();
        }
        auto sibling = ComponentCommand::LoadRegistered(item.id());
        if (sibling) {
            host::ICommand& command = sibling->command();
            command.OnCreate(m_application);
            m_menu->addAction(makeCommandAction(command, m_menu));
            m_itemCommands.push_back(std::move(sibling));
        } else {
            // No component provides the tool: the item says which one it
            // stands for and cannot be chosen.
            QAction* missing = m_menu->addAction(q(item.id()));
            missing->setObjectName(q(item.id()));
            missing->setEnabled(false);
        }
    }
    m_window.window->menuBar()->insertMenu(m_window.menuBefore, m_menu);
}

void PluginUi::remove() noexcept {
    try {
        if (m_menu) {
            if (m_window.window) {
                m_window.window->menuBar()->removeAction(m_menu->menuAction());
            }
            delete m_menu.data();
        }
        if (m_commandAction) {
            if (m_toolBar) {
                m_toolBar->removeAction(m_commandAction);
            }
            delete m_commandAction.data();
        }
        if (m_toolBar && m_ownToolBar && m_toolBar->actions().isEmpty()) {
            if (m_window.window) {
                m_window.window->removeToolBar(m_toolBar);
            }
            delete m_toolBar.data();
        }
        m_toolBar = nullptr;
        m_ownToolBar = false;
        m_itemCommands.clear();
        m_menuDef.reset();
        m_command.reset();
    } catch (...) {
    }
}

}  // namespace vark::qgis
