#pragma once

// UI services shown with Qt Widgets. Install them once a QApplication exists:
//     vark::SetUi(std::make_shared<vark::QtUiServices>());
// Without a QApplication every call falls back to the console services, so a
// stray call from a headless run never aborts.

#include <QFileDialog>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "support/UiServices.h"

class QTranslator;

namespace vark {

class QtUiServices : public UiServices {
public:
    /// The language of the component's texts ("fr", "de", ...), asked at
    /// every message box and file dialog.
    using LanguageFn = std::function<std::string()>;

    /// `parent`: the window boxes and dialogs go over when no window of the
    /// application is active (the host's main window); may be null.
    /// `language`: with it, Qt's own texts on the boxes and dialogs (the
    /// buttons, the file dialog's labels) follow the component's language,
    /// for every language Qt has a translation of (Debian's Qt translations:
    /// QLibraryInfo's translations folder); without it they stay as the
    /// application has them.
    explicit QtUiServices(QWidget* parent = nullptr, LanguageFn language = {});
    ~QtUiServices() override;

    /// QMessageBox over the active modal window, else the active window,
    /// else the parent; the prompt is plain text (never markup) and CR LF
    /// become line breaks.
    MsgResult MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                     const std::string& title) override;
    /// QApplication::beep().
    void Beep() override;
    /// The wait cursor as an override cursor, nested.
    void SetBusyPointer(bool busy) override;
    /// QFileDialog::getOpenFileName with the filter converted by QtFileFilter.
    std::optional<std::string> AskOpenFile(const std::string& title, const std::string& filter,
                                           int filterIndex) override;
    /// QFileDialog::getSaveFileName, likewise.
    std::optional<std::string> AskSaveFile(const std::string& title, const std::string& filter,
                                           int filterIndex) override;
    /// QInputDialog::getItem, not editable.
    std::optional<std::size_t> AskChoice(const std::string& title, const std::string& prompt,
                                         const std::vector<std::string>& items) override;

    /// The window a box or dialog goes over now (see MsgBox).
    QWidget* dialogParent() const;

private:
    /// Qt's translation for the component's language: nullptr without a
    /// language function, for "en" (Qt's own language) and for a language
    /// Qt has no translation of. Loaded once per language.
    QTranslator* translatorForLanguage();

    /// QFileDialog::getOpenFileName or getSaveFileName.
    using FileDialogFn = QString (*)(QWidget*, const QString&, const QString&, const QString&,
                                     QString*, QFileDialog::Options);
    /// The file dialog `dialog` over dialogParent(), in the component's
    /// language, the filter converted by QtFileFilter.
    std::optional<std::string> askFile(const std::string& title, const std::string& filter,
                                       int filterIndex, FileDialogFn dialog);

    int m_busyDepth = 0;
    ConsoleUi m_console;
    QPointer<QWidget> m_parent;
    LanguageFn m_language;
    std::map<std::string, std::unique_ptr<QTranslator>> m_translators;
};

/// A "desc|pattern|desc|pattern" filter in Qt's form: entries "desc (p1 p2)"
/// joined by ";;". Patterns of one entry separated by ";" become separated by
/// blanks; a description that already ends with its patterns in parentheses
/// is kept as it is. `filterIndex` (1-based) names the entry returned in
/// `selected` (the first when out of range). An entry without a pattern
/// keeps its description alone.
std::string QtFileFilter(const std::string& filter, int filterIndex, std::string* selected);

}  // namespace vark
