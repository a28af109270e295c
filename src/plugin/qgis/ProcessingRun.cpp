#include "plugin/qgis/ProcessingRun.h"

#include <qgsvectorlayer.h>

#include <memory>
#include <utility>

#include "criterion_file/fzy_io.h"
#include "host/qgis/QgisApplication.h"
#include "host/qgis/QgisData.h"
#include "support/Failure.h"

namespace vark::qgis {

namespace {

/// Closes the criterion file on the ways out that did not hand it to the
/// computation (which closes it itself when it succeeds).
class OpenCriterionFile {
public:
    OpenCriterionFile(std::string& layerPath, std::string& layerName) {
        fzy_io_open(layerPath, layerName);
    }
    ~OpenCriterionFile() {
        try {
            fzy_io_close();
        } catch (...) {
            // The failure that brought us here is the one to report.
        }
    }
    OpenCriterionFile(const OpenCriterionFile&) = delete;
    OpenCriterionFile& operator=(const OpenCriterionFile&) = delete;
};

}  // namespace

CriterionRun RunLayerCriterion(QgsVectorLayer& layer, CriterionRequest request,
                               std::int32_t& marker) {
    marker = 1;
    auto featureClass = std::make_shared<QgisFeatureClass>(&layer);
    std::string layerPath = featureClass->GetWorkspace()->GetWorkspacePath();
    std::string layerName = layer.name().toStdString();

    OpenCriterionFile file(layerPath, layerName);
    fzy_io_valid(layerName, layerPath);
    marker = 2;

    CriterionRun run;
    // The dialog's guard: the editor of the QGIS host sees every layer of
    // the project.
    auto editor = CreateQgisApplication(nullptr)->FindEditorExtension(host::kEditorExtensionId);
    if (editor && editor->GetEditState() == host::kEditStateEditing) {
        run.outcome = RunOutcome::Editing;
        return run;
    }

    request.featureClass = std::move(featureClass);
    request.workspacePath = layerPath;
    request.layerName = layerName;
    run.result = ComputeCriterion(request, &marker);
    return run;
}

}  // namespace vark::qgis
