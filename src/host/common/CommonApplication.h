#pragma once

// The application of every adapter: one current document, an editor, the
// feature layers it creates. The adapter adds its statistics and how it
// opens a folder of shapefiles.

#include <memory>
#include <string>
#include <string_view>

#include "host/host.h"

namespace vark::host::common {

class CommonApplication : public Application {
public:
    CommonApplication(std::shared_ptr<MapDocument> document, std::shared_ptr<Editor> editor)
        : m_document(std::move(document)), m_editor(std::move(editor)) {}

    bool IsMapApplication() const override { return m_isMapApplication; }
    std::shared_ptr<MapDocument> GetDocument() override { return m_document; }
    /// The editor for kEditorExtensionId (unless made unavailable), else empty.
    std::shared_ptr<Editor> FindEditorExtension(std::string_view typeId) override;
    /// A CommonFeatureLayer without name or class.
    std::shared_ptr<FeatureLayer> CreateFeatureLayer() override;

protected:
    void setDocument(std::shared_ptr<MapDocument> document) { m_document = std::move(document); }
    void setEditorAvailable(bool available) { m_editorAvailable = available; }
    void setMapApplication(bool isMap) { m_isMapApplication = isMap; }
    const std::shared_ptr<Editor>& editorObject() const { return m_editor; }

private:
    std::shared_ptr<MapDocument> m_document;
    std::shared_ptr<Editor> m_editor;
    bool m_editorAvailable = true;
    bool m_isMapApplication = true;
};

/// Throws Failure (err::kPathNotFound, from `source`) unless `folder` is an
/// existing folder: what OpenShapefileFolder checks first in every adapter.
void RequireFolder(const std::string& folder, std::string_view source);

}  // namespace vark::host::common
