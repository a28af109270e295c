#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vark {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

/// What the component asks of the windowing system: message boxes, the beep,
/// the busy pointer and the file-open dialog. Implementations: Qt (windows,
/// support/QtUiServices.h), console (headless runs, below) and recording
/// (tests, support/RecordingUi.h).
///
/// Texts are UTF-8. Prompts may hold CR LF line ends (the component's
/// messages are built that way); implementations show them as line breaks
/// and never interpret a prompt as markup.
/// All calls come from the user-interface thread; there is no locking.
class UiServices {
public:
    virtual ~UiServices() = default;
    /// Shows `prompt` with an icon, buttons and a title ("" = the
    /// application's own title) and returns the button pressed.
    virtual MsgResult MsgBox(const std::string& prompt, MsgIcon icon = MsgIcon::None,
                             MsgButtons buttons = MsgButtons::Ok,
                             const std::string& title = {}) = 0;
    /// The failure report of a module that reports its own failures and
    /// goes on ("<n>  <description> <procedure> Debug=<marker>"): a message
    /// box with OK, no icon and no title, unless the services set such
    /// reports apart.
    virtual void ReportFailure(const std::string& report) {
        MsgBox(report, MsgIcon::None, MsgButtons::Ok, {});
    }
    virtual void Beep() = 0;
    /// Shows (true) or removes (false) the busy pointer. Calls nest: the
    /// pointer is restored when every "true" has been matched by a "false".
    /// A "false" without a matching "true" is ignored.
    virtual void SetBusyPointer(bool busy) = 0;
    /// A file-open dialog for one file. `filter` is "desc|pattern|desc|pattern"
    /// (several patterns of one entry separated by ";"); `filterIndex`
    /// (1-based) selects the entry shown first. nullopt on cancel.
    virtual std::optional<std::string> AskOpenFile(const std::string& title,
                                                   const std::string& filter, int filterIndex) = 0;
    /// A file-save dialog (the same filter), which asks before replacing an
    /// existing file. nullopt on cancel; services without one cancel.
    virtual std::optional<std::string> AskSaveFile(const std::string& /*title*/,
                                                   const std::string& /*filter*/,
                                                   int /*filterIndex*/) {
        return std::nullopt;
    }
    /// Asks to pick one of `items` (at least one), the first offered:
    /// its index, nullopt on cancel; services without such a list cancel.
    virtual std::optional<std::size_t> AskChoice(const std::string& /*title*/,
                                                 const std::string& /*prompt*/,
                                                 const std::vector<std::string>& /*items*/) {
        return std::nullopt;
    }
};

/// Headless implementation: writes every message to stderr ("[title] prompt",
/// CR LF shown as line breaks) and answers as if the first button had been
/// pressed (OK, or Yes for a Yes/No question); the file dialog is cancelled;
/// the beep and the busy pointer do nothing.
class ConsoleUi : public UiServices {
public:
    MsgResult MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                     const std::string& title) override;
    void Beep() override {}
    void SetBusyPointer(bool) override {}
    std::optional<std::string> AskOpenFile(const std::string& title, const std::string& filter,
                                           int filterIndex) override;
};

/// The UI services in use. Defaults to the console implementation.
UiServices& Ui();
/// Installs `services` (nullptr restores the console implementation).
/// Returns the previous services (nullptr when the console one was in use)
/// so that a caller (a test) can put them back.
std::shared_ptr<UiServices> SetUi(std::shared_ptr<UiServices> services);

/// Shows the busy pointer for the lifetime of the guard, and restores it on
/// every way out of the scope, exceptions included.
class BusyPointer {
public:
    BusyPointer() { Ui().SetBusyPointer(true); }
    ~BusyPointer() {
        try {
            Ui().SetBusyPointer(false);
        } catch (...) {
        }
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

}  // namespace vark
