#include "dialog/CriterionRun.h"

#include <utility>

#include "criterion_file/fzy_io.h"
#include "host/HostState.h"
#include "support/Failure.h"

namespace vark {

namespace {

/// The object itself, kept alive by the caller's copy of the pointer.
template <typename T>
std::shared_ptr<T> Require(std::shared_ptr<T> object, const char* what) {
    if (!object) {
        throw Failure(err::kObjectVariableNotSet,
                      std::string("Object variable or With block variable not set (") + what + ")",
                      "RunCriterionComputation");
    }
    return object;
}

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

CriterionRun RunCriterionComputation(std::string& layerPath, std::string& layerName,
                                     std::int32_t layerIndex, CriterionRequest request,
                                     std::int32_t& marker) {
    marker = 1;
    OpenCriterionFile file(layerPath, layerName);
    fzy_io_valid(layerName, layerPath);

    const auto application = Require(g_pApplication(), "application");
    const auto document = Require(application->GetDocument(), "document");
    const auto map = Require(document->GetFocusMap(), "focus map");
    auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(map->GetMapLayer(layerIndex));
    Require(featureLayer, "feature layer");
    auto featureClass = featureLayer->GetFeatureClass();
    Require(featureClass, "feature class");
    marker = 2;

    CriterionRun run;
    auto editor = application->FindEditorExtension(host::kEditorExtensionId);
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

}  // namespace vark
