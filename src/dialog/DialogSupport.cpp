#include "dialog/DialogSupport.h"

#include "dialog/frm_CritereTexte.h"
#include "host/HostState.h"
#include "text_store/clsResourceMDB.h"

namespace vark::dialog {

QString ToQ(const std::string& s) {
    return QString::fromStdString(s);
}
std::string ToStd(const QString& s) {
    return s.toStdString();
}

std::string ResourceString(std::int32_t id) {
    return gTextStore().ResourceString(id);
}

std::shared_ptr<host::Application> App() {
    return Require(g_pApplication(), "application");
}

std::string ErrorHead(const Failure& f) {
    return std::to_string(f.number()) + "  " + f.description();
}

std::string LayerKey(host::FeatureLayer& layer) {
    std::string key = layer.GetLayerName();
    try {
        if (const auto featureClass = layer.GetFeatureClass()) {
            if (const auto workspace = featureClass->GetWorkspace()) {
                key += '\n' + workspace->GetWorkspacePath();
            }
        }
    } catch (...) {
        // A layer without a workspace is told apart by its name.
    }
    return key;
}

std::optional<std::string> LayerTextOf(const QListWidgetItem* item, const std::string& layerKey) {
    const QVariant data = item->data(frm_CritereTexte::kLayerTextRole);
    if (!data.isValid() ||
        item->data(frm_CritereTexte::kListedFromRole).toString() != ToQ(layerKey)) {
        return std::nullopt;
    }
    const QByteArray bytes = data.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void SetLayerText(QListWidgetItem* item, const std::string& text, const std::string& layerKey) {
    item->setData(frm_CritereTexte::kLayerTextRole,
                  QByteArray(text.data(), static_cast<int>(text.size())));
    item->setData(frm_CritereTexte::kListedFromRole, ToQ(layerKey));
}

void CopyLayerText(const QListWidgetItem* from, QListWidgetItem* to) {
    for (const int role : {frm_CritereTexte::kLayerTextRole, frm_CritereTexte::kListedFromRole}) {
        if (const QVariant data = from->data(role); data.isValid()) {
            to->setData(role, data);
        }
    }
}

QListWidgetItem* SelectedItem(const QListWidget* list) {
    const auto selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

}  // namespace vark::dialog
