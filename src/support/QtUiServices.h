#pragma once

// UI services shown with Qt Widgets. Install them once a QApplication exists:
//     vark::SetUi(std::make_shared<vark::QtUiServices>());
// Without a QApplication every call falls back to the console services, so a
// stray call from a headless run never aborts.

#include <string>

#include "support/UiServices.h"

namespace vark {

class QtUiServices : public UiServices {
public:
    /// QMessageBox over the active window; the prompt is plain text (never
    /// markup) and CR LF become line breaks.
    MsgResult MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                     const std::string& title) override;
    /// QApplication::beep().
    void Beep() override;
    /// The wait cursor as an override cursor, nested.
    void SetBusyPointer(bool busy) override;
    /// QFileDialog::getOpenFileName with the filter converted by QtFileFilter.
    std::optional<std::string> AskOpenFile(const std::string& title, const std::string& filter,
                                           int filterIndex) override;

private:
    int m_busyDepth = 0;
    ConsoleUi m_console;
};

/// A "desc|pattern|desc|pattern" filter in Qt's form: entries "desc (p1 p2)"
/// joined by ";;". Patterns of one entry separated by ";" become separated by
/// blanks; a description that already ends with its patterns in parentheses
/// is kept as it is. `filterIndex` (1-based) names the entry returned in
/// `selected` (the first when out of range). An entry without a pattern
/// keeps its description alone.
std::string QtFileFilter(const std::string& filter, int filterIndex, std::string* selected);

}  // namespace vark
