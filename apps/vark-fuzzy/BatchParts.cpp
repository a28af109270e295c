#include "BatchParts.h"

#include <utility>

#include "BatchErrors.h"
#include "Suggestions.h"
#include "criterion_file/fzy_io.h"
#include "host/ogr/OgrApplication.h"
#include "text_store/TextNumbers.h"
#include "text_store/clsResourceMDB.h"

namespace vark::app {

namespace {

/// The French texts, for a text database that lacks a number.
constexpr std::pair<std::int32_t, const char*> kFallbackTexts[] = {
    {text::kTextFields, "Attributs disponibles"},
    {text::kEditing,
     "Les données sont en cours de modification. Terminez la session de mise à jour avant de "
     "calculer le critère."},
    {text::kNoDescription, "Aucune description n'est enregistrée pour ce champ."},
    {text::kOtherFields, "Champs non texte"},
    {text::kUnitFields, "Champs avec valeur 0-1"},
    {text::kUndefinedGrades,
     "Ces valeurs ont un niveau que l'échelle choisie n'offre pas ; notez-les de nouveau :"},
    {text::kUnlisted, "valeurs non notées"},
    {text::kEmpty, "textes vides"},
    {text::kNull, "valeurs nulles"},
};

}  // namespace

std::string Text(std::int32_t id) {
    std::string text = gTextStore().ResourceString(id);
    if (text.empty()) {
        for (const auto& [number, fallback] : kFallbackTexts) {
            if (number == id) {
                text = fallback;
            }
        }
    }
    return text;
}

std::string Lines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

int Report(BatchIo& io, std::string_view command, const Failure& failure, const char* module,
           const char* procedure, const std::string& extra) {
    return TellFailure(io.err, PlainSentence(failure, command), failure, {module, procedure, extra},
                       io.verbose);
}

Target OpenTarget(const std::string& openedAs, const std::optional<std::string>& layerName,
                  BatchIo& io) {
    // Messages name the data set without its password.
    const std::string dataset = ogr::WithoutPassword(openedAs);
    Target target;
    target.application = ogr::CreateOgrApplication();
    try {
        ogr::AddDataSource(*target.application, {openedAs, layerName.value_or("")});
    } catch (...) {
        ThrowOpenFailure(CurrentFailure(), openedAs, layerName.value_or(""));
    }
    auto document = target.application->GetDocument();
    auto map = document ? document->GetFocusMap() : nullptr;
    if (!map || map->GetLayerCount() == 0) {
        throw Failure(err::kObjectVariableNotSet, "No layer in " + dataset, kProgramName);
    }
    if (map->GetLayerCount() > 1) {
        std::string names;
        for (std::int32_t i = 0; i < map->GetLayerCount(); ++i) {
            names += (i == 0 ? "" : ", ") + map->GetMapLayer(i)->GetLayerName();
        }
        throw UsageError(Said(clitext::kSeveralLayers,
                              "%1 holds several layers; name one with --layer: %2",
                              {dataset, names}));
    }
    target.layer = std::dynamic_pointer_cast<host::FeatureLayer>(map->GetMapLayer(0));
    if (target.layer) {
        target.featureClass = target.layer->GetFeatureClass();
    }
    if (!target.featureClass) {
        throw Failure(err::kObjectVariableNotSet, "No feature layer in " + dataset, kProgramName);
    }
    target.layerName = target.layer->GetLayerName();
    if (target.featureClass->GetShapeType() != host::kShapePolygon) {
        throw PlainError(Said(clitext::kNotPolygons,
                              "the layer %1 is not a polygon layer: criteria are made on polygon "
                              "layers.",
                              {target.layerName}));
    }
    if (!target.featureClass->GetWorkspace()) {
        throw Failure(err::kObjectVariableNotSet,
                      "The layer " + target.layerName + " of " + dataset + " has no workspace",
                      kProgramName);
    }
    auto application = std::move(target.application);
    target = Target{ResolveTarget(target.layer), std::move(application)};
    if (io.prepare) {
        io.prepare(*target.application);
    }
    return target;
}

std::vector<std::string> FieldNamesOfType(const host::Fields& fields, std::int32_t type) {
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
        if (fields.GetField(i).GetFieldType() == type) {
            names.push_back(fields.GetField(i).GetFieldName());
        }
    }
    return names;
}

void RequireTextField(const Target& target, const std::string& field, const std::string& dataset) {
    const host::Fields fields = target.featureClass->GetFields();
    const std::int32_t index = fields.FindFieldIndex(field);
    if (index >= 0 && fields.GetField(index).GetFieldType() == host::kFieldText) {
        return;
    }
    const std::vector<std::string> near =
        NearestNames(field, FieldNamesOfType(fields, host::kFieldText));
    throw PlainError(Said(clitext::kNoSuchTextField, "the layer %1 has no text field %2.",
                          {target.layerName, field}) +
                     " " +
                     (near.empty() ? Said(clitext::kFieldsListsThem,
                                          "\"vark-fuzzy fields %1\" lists its fields.", {dataset})
                                   : DidYouMean(near)));
}

}  // namespace vark::app
