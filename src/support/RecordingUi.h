#pragma once

// UI services for tests: records every call in order and answers from a
// script. Built into the test-support library (never the component), so
// that every module's tests (and the dialog's) can drive message boxes and
// the file dialog without a screen.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/UiServices.h"

namespace vark {

enum class UiCallKind { MsgBox, Beep, BusyOn, BusyOff, AskOpenFile, AskSaveFile, AskChoice };

/// One recorded call. MsgBox fills prompt, icon, buttons and title;
/// AskOpenFile and AskSaveFile fill title, filter and filterIndex; AskChoice
/// title, prompt and items.
struct UiCall {
    UiCallKind kind = UiCallKind::MsgBox;
    std::string prompt{};
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    std::string title{};
    std::string filter{};
    int filterIndex = 0;
    std::vector<std::string> items{};
};

class RecordingUi : public UiServices {
public:
    MsgResult MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                     const std::string& title) override;
    void Beep() override;
    void SetBusyPointer(bool busy) override;
    std::optional<std::string> AskOpenFile(const std::string& title, const std::string& filter,
                                           int filterIndex) override;
    std::optional<std::string> AskSaveFile(const std::string& title, const std::string& filter,
                                           int filterIndex) override;
    std::optional<std::size_t> AskChoice(const std::string& title, const std::string& prompt,
                                         const std::vector<std::string>& items) override;

    /// Every call, in order.
    std::vector<UiCall> calls;
    /// Answers for MsgBox, used front first; when empty the first button
    /// answers (OK, or Yes for a Yes/No question).
    std::deque<MsgResult> msgBoxAnswers;
    /// Answers for AskOpenFile, used front first; when empty: cancelled.
    std::deque<std::optional<std::string>> openFileAnswers;
    /// Answers for AskSaveFile, used front first; when empty: cancelled.
    std::deque<std::optional<std::string>> saveFileAnswers;
    /// Answers for AskChoice, used front first; when empty: cancelled.
    std::deque<std::optional<std::size_t>> choiceAnswers;
    /// Called for every MsgBox after it is recorded, before it answers (for
    /// tests that act while a message is "on screen"). Its result, when set,
    /// overrides the scripted answer.
    std::function<std::optional<MsgResult>(const UiCall&)> onMsgBox;

    /// Busy pointer: current depth, deepest depth reached, and the number of
    /// "false" calls that had no matching "true" (a fault in the caller).
    int busyDepth = 0;
    int maxBusyDepth = 0;
    int unmatchedBusyOff = 0;

    /// The recorded message boxes only, in order.
    std::vector<UiCall> messages() const;
    int beepCount() const;
    void clear();

private:
    /// Both file dialogs: the call recorded, the next of `answers` given
    /// (cancelled when none is left).
    std::optional<std::string> RecordFileDialog(UiCallKind kind,
                                                std::deque<std::optional<std::string>>& answers,
                                                const std::string& title, const std::string& filter,
                                                int filterIndex);
};

/// Installs a fresh RecordingUi for the lifetime of the guard and puts the
/// previous services back afterwards.
class ScopedRecordingUi {
public:
    ScopedRecordingUi();
    ~ScopedRecordingUi();
    ScopedRecordingUi(const ScopedRecordingUi&) = delete;
    ScopedRecordingUi& operator=(const ScopedRecordingUi&) = delete;
    RecordingUi& operator*() const { return *m_ui; }
    RecordingUi* operator->() const { return m_ui.get(); }

private:
    std::shared_ptr<RecordingUi> m_ui;
    std::shared_ptr<UiServices> m_previous;
};

}  // namespace vark
