#pragma once

// Small pieces the text-criterion dialog's handler files share: text
// conversions, the texts of the interface language, the objects a handler
// requires, and the layer texts the value lists keep beside what they show.

#include <QListWidget>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "criterion/RequireObject.h"
#include "host/host.h"
#include "support/Failure.h"
#include "text_store/TextNumbers.h"

namespace vark::dialog {

QString ToQ(const std::string& s);
std::string ToStd(const QString& s);

/// The text `id` of the interface language.
std::string ResourceString(std::int32_t id);

template <typename T>
std::shared_ptr<T> Require(std::shared_ptr<T> object, const char* what) {
    return RequireObject(std::move(object), what, text::kFormName);
}

/// The application the dialog works in; Failure 91 when there is none.
std::shared_ptr<host::Application> App();

/// "number  description", the head of the dialog's own error messages.
std::string ErrorHead(const Failure& f);

/// What tells a layer apart from the others the dialog may list values
/// from: its name and its workspace.
std::string LayerKey(host::FeatureLayer& layer);

/// The value of a value-list entry as the layer's texts hold it, when it
/// was listed from the layer of key `layerKey`; nullopt for an entry of a
/// grades file or of another layer (whose bytes may read otherwise here:
/// such an entry matches by the text it shows).
std::optional<std::string> LayerTextOf(const QListWidgetItem* item, const std::string& layerKey);
/// Keeps on `item` the value as the layer of key `layerKey` holds it.
void SetLayerText(QListWidgetItem* item, const std::string& text, const std::string& layerKey);
/// Gives `to` what `from` keeps of its layer (nothing when it keeps nothing).
void CopyLayerText(const QListWidgetItem* from, QListWidgetItem* to);

/// The first selected entry of `list`, nullptr when none is.
QListWidgetItem* SelectedItem(const QListWidget* list);

}  // namespace vark::dialog
