#include "support/RecordingUi.h"

#include <algorithm>

namespace vark {

namespace {

/// The first scripted answer, taken off the script; nullopt when none is left.
template <typename T>
std::optional<T> TakeFront(std::deque<T>& script) {
    if (script.empty()) return std::nullopt;
    std::optional<T> answer(std::move(script.front()));
    script.pop_front();
    return answer;
}

}  // namespace

MsgResult RecordingUi::MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                              const std::string& title) {
    const UiCall call{.kind = UiCallKind::MsgBox,
                      .prompt = prompt,
                      .icon = icon,
                      .buttons = buttons,
                      .title = title};
    calls.push_back(call);
    const bool question = buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel;
    MsgResult answer = TakeFront(msgBoxAnswers).value_or(question ? MsgResult::Yes : MsgResult::Ok);
    if (onMsgBox) {
        if (auto overridden = onMsgBox(call)) answer = *overridden;
    }
    return answer;
}

void RecordingUi::Beep() {
    calls.push_back({.kind = UiCallKind::Beep});
}

void RecordingUi::SetBusyPointer(bool busy) {
    calls.push_back({.kind = busy ? UiCallKind::BusyOn : UiCallKind::BusyOff});
    if (busy) {
        maxBusyDepth = std::max(maxBusyDepth, ++busyDepth);
    } else if (busyDepth == 0) {
        ++unmatchedBusyOff;
    } else {
        --busyDepth;
    }
}

std::optional<std::string> RecordingUi::AskOpenFile(const std::string& title,
                                                    const std::string& filter, int filterIndex) {
    return RecordFileDialog(UiCallKind::AskOpenFile, openFileAnswers, title, filter, filterIndex);
}

std::optional<std::string> RecordingUi::AskSaveFile(const std::string& title,
                                                    const std::string& filter, int filterIndex) {
    return RecordFileDialog(UiCallKind::AskSaveFile, saveFileAnswers, title, filter, filterIndex);
}

std::optional<std::size_t> RecordingUi::AskChoice(const std::string& title,
                                                  const std::string& prompt,
                                                  const std::vector<std::string>& items) {
    calls.push_back(
        {.kind = UiCallKind::AskChoice, .prompt = prompt, .title = title, .items = items});
    return TakeFront(choiceAnswers).value_or(std::nullopt);
}

std::optional<std::string> RecordingUi::RecordFileDialog(
    UiCallKind kind, std::deque<std::optional<std::string>>& answers, const std::string& title,
    const std::string& filter, int filterIndex) {
    calls.push_back({.kind = kind, .title = title, .filter = filter, .filterIndex = filterIndex});
    return TakeFront(answers).value_or(std::nullopt);
}

std::vector<UiCall> RecordingUi::messages() const {
    std::vector<UiCall> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [](const UiCall& c) { return c.kind == UiCallKind::MsgBox; });
    return out;
}

int RecordingUi::beepCount() const {
    return static_cast<int>(std::count_if(
        calls.begin(), calls.end(), [](const UiCall& c) { return c.kind == UiCallKind::Beep; }));
}

void RecordingUi::clear() {
    calls.clear();
    msgBoxAnswers.clear();
    openFileAnswers.clear();
    busyDepth = 0;
    maxBusyDepth = 0;
    unmatchedBusyOff = 0;
}

ScopedRecordingUi::ScopedRecordingUi()
    : m_ui(std::make_shared<RecordingUi>()), m_previous(SetUi(m_ui)) {}

ScopedRecordingUi::~ScopedRecordingUi() {
    SetUi(m_previous);
}

}  // namespace vark
