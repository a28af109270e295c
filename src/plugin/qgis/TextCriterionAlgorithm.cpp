#include "plugin/qgis/TextCriterionAlgorithm.h"

#include <qgscolorramp.h>
#include <qgsfillsymbol.h>
#include <qgsgraduatedsymbolrenderer.h>
#include <qgslayermetadata.h>
#include <qgsprocessingcontext.h>
#include <qgsprocessingfeedback.h>
#include <qgsprocessingoutputs.h>
#include <qgsprocessingparameters.h>
#include <qgsproject.h>
#include <qgsrendererrange.h>
#include <qgsvectorlayer.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "criterion/CriterionComputation.h"
#include "criterion/GradesFile.h"
#include "criterion/Recipe.h"
#include "host/qgis/QgisApplication.h"
#include "plugin/qgis/ProcessingRun.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "text_store/TextNumbers.h"
#include "text_store/clsResourceMDB.h"

namespace vark::qgis {

namespace {

// The parameters, as scripts name them.
const QString kInput = QStringLiteral("INPUT");
const QString kField = QStringLiteral("FIELD");
const QString kGrades = QStringLiteral("GRADES");
const QString kGradesFile = QStringLiteral("GRADES_FILE");
const QString kLevels = QStringLiteral("LEVELS");
const QString kName = QStringLiteral("NAME");
const QString kStyle = QStringLiteral("STYLE");

constexpr const char* kFieldPrefix = "FZY_";

// The outputs.
const QString kOutput = QStringLiteral("OUTPUT");
const QString kFieldName = QStringLiteral("FIELD_NAME");
constexpr const char* kProcedure = "processAlgorithm";
constexpr const char* kModule = "vark:textcriterion";

QString Text(int number) {
    return QString::fromStdString(gTextStore().ResourceString(number));
}

std::string ToStd(const QString& text) {
    return text.toStdString();
}

/// The grade of a matrix cell: a whole number 0 to 6, or -1.
int GradeOfCell(const QVariant& cell) {
    bool ok = false;
    const double number = cell.toString().trimmed().toDouble(&ok);
    if (!ok || number != std::floor(number) || number < 0 || number > 6) {
        return -1;
    }
    return static_cast<int>(number);
}

void Flatten(const QVariantList& cells, QVariantList& out) {
    for (const QVariant& cell : cells) {
        if (cell.type() == QVariant::List || cell.type() == QVariant::StringList) {
            Flatten(cell.toList(), out);
        } else {
            out.append(cell);
        }
    }
}

MembershipScale ScaleOfLevel(int index) {
    switch (index) {
        case 0:
            return MembershipScale::Three;
        case 1:
            return MembershipScale::Five;
        default:
            return MembershipScale::Seven;
    }
}

QgsProcessingException Refusal(const std::string& text) {
    return QgsProcessingException(QString::fromStdString(text));
}

void LogCounts(QgsProcessingFeedback& feedback, const std::vector<std::string>& entries,
               const CriterionResult& result) {
    for (std::size_t k = 0; k < entries.size() && k < result.entryCounts.size(); ++k) {
        feedback.pushInfo(QStringLiteral("%1\t%2")
                              .arg(result.entryCounts[k])
                              .arg(QString::fromStdString(entries[k])));
    }
    feedback.pushInfo(
        QStringLiteral("%1\t(%2)").arg(result.unlistedCount).arg(Text(text::kUnlisted)));
    feedback.pushInfo(QStringLiteral("%1\t(%2)").arg(result.emptyCount).arg(Text(text::kEmpty)));
    feedback.pushInfo(QStringLiteral("%1\t(%2)").arg(result.nullCount).arg(Text(text::kNull)));
}

/// `number`'s text with %1, %2... replaced by `args`.
QString Said(int number, const QStringList& args) {
    QString text = Text(number);
    // Right to left, so that %1 does not eat the start of %10.
    for (int k = static_cast<int>(args.size()); k >= 1; --k) {
        text.replace(QStringLiteral("%") + QString::number(k), args.at(k - 1));
    }
    return text;
}

/// The log's last lines: how the criterion was made, as its recipe keeps it.
void LogRecipe(QgsProcessingFeedback& feedback, const Recipe& recipe) {
    const auto q = [](const std::string& text) { return QString::fromStdString(text); };
    feedback.pushInfo(Said(text::kRecipeHead, {q(recipe.field), q(recipe.sourceField),
                                               q(recipe.layer), QString::number(recipe.levels)}));
    feedback.pushInfo(
        Said(text::kRecipeMade, {q(recipe.dateUtc), q(recipe.runBy), q(recipe.toolVersion)}));
    feedback.pushInfo(Text(text::kRecipeColumns));
    for (const RecipeEntry& entry : recipe.entries) {
        feedback.pushInfo(QStringLiteral("%1\t%2\t%3\t%4")
                              .arg(entry.features)
                              .arg(entry.grade)
                              .arg(entry.degree)
                              .arg(q(entry.value)));
    }
}

/// A line in the layer's metadata history (kept with the project).
void AddHistory(QgsVectorLayer& layer, const Recipe& recipe) {
    QgsLayerMetadata metadata = layer.metadata();
    metadata.addHistoryItem(
        Said(processing_text::kHistory,
             {QString::fromStdString(recipe.field), QString::fromStdString(recipe.sourceField),
              QString::number(recipe.levels), QString::number(recipe.entries.size()),
              QString::fromStdString(recipe.dateUtc)}));
    layer.setMetadata(metadata);
}

}  // namespace

std::vector<std::string> GradedEntriesOfMatrix(const QVariantList& cells) {
    QVariantList flat;
    Flatten(cells, flat);
    if (flat.size() % 2 != 0) {
        throw QgsProcessingException(Text(processing_text::kBadGrade) + QLatin1Char(' ') +
                                     flat.constLast().toString());
    }
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(flat.size() / 2));
    for (int i = 0; i < flat.size(); i += 2) {
        const std::string value =
            flat.at(i).isNull() ? std::string() : ToStd(flat.at(i).toString());
        const int grade = GradeOfCell(flat.at(i + 1));
        if (grade < 0) {
            throw QgsProcessingException(Text(processing_text::kBadGrade) + QLatin1Char(' ') +
                                         QString::fromStdString(value) + QStringLiteral(" -> ") +
                                         flat.at(i + 1).toString());
        }
        entries.push_back(FormatGradedEntry(value, grade));
    }
    return entries;
}

void ApplyDegreeStyle(QgsVectorLayer& layer, const QString& field) {
    constexpr int kClasses = 5;
    QgsGradientColorRamp ramp(QColor(215, 25, 28), QColor(26, 150, 65));
    ramp.setStops({QgsGradientStop(0.5, QColor(255, 255, 191))});
    QgsRangeList ranges;
    for (int k = 0; k < kClasses; ++k) {
        const double lower = static_cast<double>(k) / kClasses;
        const double upper = static_cast<double>(k + 1) / kClasses;
        QgsSymbol* symbol = QgsFillSymbol::createSimple(
            {{QStringLiteral("color"), QStringLiteral("0,0,0")},
             {QStringLiteral("outline_color"), QStringLiteral("35,35,35")},
             {QStringLiteral("outline_width"), QStringLiteral("0.26")}});
        symbol->setColor(ramp.color(static_cast<double>(k) / (kClasses - 1)));
        ranges.append(QgsRendererRange(lower, upper, symbol,
                                       QStringLiteral("%1 - %2").arg(lower).arg(upper)));
    }
    auto renderer = std::make_unique<QgsGraduatedSymbolRenderer>(field, ranges);
    renderer->setSourceColorRamp(ramp.clone());
    layer.setRenderer(renderer.release());
    layer.emitStyleChanged();
    layer.triggerRepaint();
}

QString TextCriterionAlgorithm::name() const {
    return QStringLiteral("textcriterion");
}

QString TextCriterionAlgorithm::displayName() const {
    return QString::fromUtf8("Critère texte");
}

QStringList TextCriterionAlgorithm::tags() const {
    return {QStringLiteral("fuzzy"), QStringLiteral("criterion"), QString::fromUtf8("critère"),
            QStringLiteral("flou"), QStringLiteral("fzy")};
}

QString TextCriterionAlgorithm::shortHelpString() const {
    return Text(processing_text::kShortHelp);
}

QgsProcessingAlgorithm::Flags TextCriterionAlgorithm::flags() const {
    return QgsProcessingAlgorithm::flags() | QgsProcessingAlgorithm::FlagNoThreading;
}

TextCriterionAlgorithm* TextCriterionAlgorithm::createInstance() const {
    return new TextCriterionAlgorithm();
}

void TextCriterionAlgorithm::initAlgorithm(const QVariantMap&) {
    addParameter(new QgsProcessingParameterVectorLayer(kInput, Text(processing_text::kInput),
                                                       {QgsProcessing::TypeVectorPolygon}));
    addParameter(new QgsProcessingParameterField(kField, Text(processing_text::kField), QVariant(),
                                                 kInput, QgsProcessingParameterField::String));
    // The matrix, a grades file, or both (the file's entries after the matrix's).
    addParameter(new QgsProcessingParameterMatrix(
        kGrades, Text(processing_text::kGrades), 1, false,
        {Text(processing_text::kValueHeader), Text(processing_text::kGradeHeader)}, QVariant(),
        true));
    addParameter(new QgsProcessingParameterFile(kGradesFile, Text(processing_text::kGradesFile),
                                                QgsProcessingParameterFile::File, QString(),
                                                QVariant(), true));
    addParameter(new QgsProcessingParameterEnum(
        kLevels, Text(processing_text::kLevels),
        {QStringLiteral("3"), QStringLiteral("5"), QStringLiteral("7")}, false, 2));
    addParameter(new QgsProcessingParameterString(kName, Text(processing_text::kName), QVariant(),
                                                  false, true));
    addParameter(new QgsProcessingParameterBoolean(kStyle, Text(processing_text::kStyle), true));
    addOutput(new QgsProcessingOutputVectorLayer(kOutput, Text(processing_text::kOutput)));
    addOutput(new QgsProcessingOutputString(kFieldName, Text(processing_text::kFieldName)));
}

QVariantMap TextCriterionAlgorithm::processAlgorithm(const QVariantMap& parameters,
                                                     QgsProcessingContext& context,
                                                     QgsProcessingFeedback* feedback) {
    QgsVectorLayer* layer = parameterAsVectorLayer(parameters, kInput, context);
    if (!layer || !layer->isValid()) {
        throw QgsProcessingException(invalidSourceError(parameters, kInput));
    }
    if (layer->geometryType() != QgsWkbTypes::PolygonGeometry) {
        throw QgsProcessingException(invalidSourceError(parameters, kInput));
    }
    const QString field = parameterAsString(parameters, kField, context);
    // Exact names, as the dialog lists them: no case-insensitive match.
    const int fieldIndex = layer->fields().indexFromName(field);
    if (fieldIndex < 0 || layer->fields().at(fieldIndex).type() != QVariant::String) {
        throw QgsProcessingException(Text(text::kNoSourceField) + QLatin1Char(' ') + field);
    }

    CriterionRequest request;
    request.sourceField = ToStd(field);
    request.runBy = "processing";
    // An optional matrix left out reads as one empty cell: no entry then.
    const QVariant matrix = parameters.value(kGrades);
    std::vector<std::string> entries =
        matrix.isValid() && !matrix.isNull()
            ? GradedEntriesOfMatrix(parameterAsMatrix(parameters, kGrades, context))
            : std::vector<std::string>();
    if (const QString file = parameterAsFile(parameters, kGradesFile, context); !file.isEmpty()) {
        try {
            std::vector<std::string> lines = ReadGradesFile(ToStd(file));
            entries.insert(entries.end(), std::make_move_iterator(lines.begin()),
                           std::make_move_iterator(lines.end()));
        } catch (...) {
            throw Refusal(CurrentFailure().description());
        }
    }
    request.scale = ScaleOfLevel(parameterAsEnum(parameters, kLevels, context));
    const QString typed = parameterAsString(parameters, kName, context);
    request.typedName = typed.isEmpty() ? kFieldPrefix + request.sourceField : ToStd(typed);

    std::int32_t marker = 1;
    CriterionRun run;
    CriterionRequest asked;
    try {
        request.gradedEntries = LoadGradedEntries(entries);
        // The dialog's refusals of the list itself, before anything is written.
        const auto undefined = UndefinedGradeValues(request.gradedEntries, request.scale);
        if (!undefined.empty()) {
            std::string prompt = gTextStore().ResourceString(text::kUndefinedGrades);
            for (const auto& value : undefined) {
                prompt += "\n" + value;
            }
            throw Refusal(prompt);
        }
        // The dialog's run opens (and may create) the criterion file before
        // its editing guard; here the guard comes first as well, so that the
        // refusal writes nothing at all.
        const auto editor =
            CreateQgisApplication(nullptr)->FindEditorExtension(host::kEditorExtensionId);
        if (editor && editor->GetEditState() == host::kEditStateEditing) {
            throw Refusal(gTextStore().ResourceString(text::kEditing));
        }
        if (feedback && feedback->isCanceled()) {
            throw Refusal(gTextStore().ResourceString(processing_text::kCancelled));
        }
        // Every route a layer takes inside QGIS leaves it as it was until its
        // commit (or refuses it before anything changes): a cancel stops it.
        if (feedback) {
            request.cancelled = [feedback] { return feedback->isCanceled(); };
        }
        request.progress = [feedback](std::int64_t done, std::int64_t total) {
            // A filtered layer counts fewer features than the pass writes.
            if (feedback && total > 0)
                feedback->setProgress(std::min(
                    100.0, 100.0 * static_cast<double>(done) / static_cast<double>(total)));
        };
        asked = request;
        run = RunLayerCriterion(*layer, std::move(request), marker);
    } catch (const QgsProcessingException&) {
        throw;
    } catch (...) {
        const Failure failure = CurrentFailure();
        if (failure.number() == err::kUserInterrupt && feedback && feedback->isCanceled()) {
            throw Refusal(gTextStore().ResourceString(processing_text::kCancelled));
        }
        const std::string report = HandleError(failure, kModule, kProcedure, false, 0,
                                               "Debug=" + std::to_string(marker), 0, true);
        throw Refusal(report.empty() ? failure.description() : report);
    }
    if (run.outcome == RunOutcome::Editing) {
        throw Refusal(gTextStore().ResourceString(text::kEditing));
    }

    const QString fieldName = QString::fromStdString(run.result.fieldName);
    if (feedback) {
        feedback->pushInfo(fieldName);
        LogCounts(*feedback, entries, run.result);
    }
    const Recipe recipe = MakeRecipe(asked, run.result, ToStd(layer->name()), asked.runBy);
    if (feedback) {
        LogRecipe(*feedback, recipe);
    }
    AddHistory(*layer, recipe);
    if (parameterAsBoolean(parameters, kStyle, context)) {
        try {
            ApplyDegreeStyle(*layer, fieldName);
        } catch (...) {
            // The layer is written; a style that cannot be set changes nothing of that.
            if (feedback)
                feedback->pushWarning(QString::fromStdString(CurrentFailure().description()));
        }
    }
    QVariantMap outputs;
    const bool inProject = context.project() && context.project()->mapLayer(layer->id());
    outputs.insert(kOutput, inProject ? layer->id() : layer->source());
    outputs.insert(kFieldName, fieldName);
    return outputs;
}

}  // namespace vark::qgis
