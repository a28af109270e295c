#pragma once

// The Processing algorithm "vark:textcriterion": the dialog's computation
// on a polygon layer, for the toolbox, the modeler, batch mode and
// processing.run() from Python.

#include <qgsprocessingalgorithm.h>

#include <string>
#include <vector>

class QgsVectorLayer;

namespace vark::qgis {

/// Numbers of the algorithm's texts in the text database.
namespace processing_text {
inline constexpr int kShortHelp = 200;
inline constexpr int kInput = 201;
inline constexpr int kField = 202;
inline constexpr int kGrades = 203;
inline constexpr int kValueHeader = 204;
inline constexpr int kGradeHeader = 205;
inline constexpr int kLevels = 206;
inline constexpr int kName = 207;
inline constexpr int kStyle = 208;
inline constexpr int kOutput = 209;
inline constexpr int kFieldName = 210;
inline constexpr int kCancelled = 211;
inline constexpr int kBadGrade = 212;
inline constexpr int kGradesFile = 214;
inline constexpr int kHistory = 215;
}  // namespace processing_text

/// The graded entries ("value->digit", the dialog's list entries) of the
/// GRADES matrix: its cells row by row, value then grade (rows given as
/// lists of their own are taken in order too). A grade is a whole number
/// 0 to 6, as a number or a text; a value is taken exactly as given (a
/// null cell is the empty text). Throws QgsProcessingException, naming the
/// value, for a bad grade, and for an odd number of cells.
std::vector<std::string> GradedEntriesOfMatrix(const QVariantList& cells);

/// Draws `layer` by `field` (degrees 0 to 1): a graduated renderer of five
/// equal classes from 0 to 1 on a red-to-green ramp, and repaints it.
void ApplyDegreeStyle(QgsVectorLayer& layer, const QString& field);

class TextCriterionAlgorithm : public QgsProcessingAlgorithm {
public:
    QString name() const override;
    QString displayName() const override;
    QStringList tags() const override;
    /// Text 200 in the language of the text store at the time of asking.
    QString shortHelpString() const override;
    /// The QGIS host runs on QGIS's own thread only: never in a worker.
    Flags flags() const override;
    TextCriterionAlgorithm* createInstance() const override;

protected:
    /// INPUT, FIELD, GRADES, LEVELS, NAME, STYLE; outputs OUTPUT and
    /// FIELD_NAME. Descriptions and the matrix headers are texts of the
    /// text store's current language.
    void initAlgorithm(const QVariantMap& configuration = QVariantMap()) override;
    /// Refuses, before anything is written, what the dialog refuses: no
    /// text field of the layer, a bad grade, a grade the scale does not
    /// define, more than 101 entries; a cancel asked before the run. Then
    /// runs the computation (RunLayerCriterion): an edit session of the
    /// project refuses it with text 133, a failure is logged (the error log
    /// beside the library) and raised with its report. Progress goes to
    /// `feedback`; a cancel that comes once the layer is changing is noted
    /// and the run ends normally (a half written layer would be worse).
    /// Logs the per-entry counts; with STYLE, draws the layer by the field.
    QVariantMap processAlgorithm(const QVariantMap& parameters, QgsProcessingContext& context,
                                 QgsProcessingFeedback* feedback) override;
};

}  // namespace vark::qgis
