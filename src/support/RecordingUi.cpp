#include "support/RecordingUi.h"

#include <algorithm>

namespace vark {

MsgResult RecordingUi::MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                              const std::string& title) {
    UiCall call;
    call.kind = UiCallKind::MsgBox;
    call.prompt = prompt;
    call.icon = icon;
    call.buttons = buttons;
    call.title = title;
    calls.push_back(call);

    MsgResult answer = (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel)
                           ? MsgResult::Yes
                           : MsgResult::Ok;
    if (!msgBoxAnswers.empty()) {
        answer = msgBoxAnswers.front();
        msgBoxAnswers.pop_front();
    }
    if (onMsgBox) {
        if (auto overridden = onMsgBox(call)) answer = *overridden;
    }
    return answer;
}

namespace {
UiCall CallOf(UiCallKind kind) {
    UiCall call;
    call.kind = kind;
    return call;
}
}  // namespace

void RecordingUi::Beep() {
    calls.push_back(CallOf(UiCallKind::Beep));
}

void RecordingUi::SetBusyPointer(bool busy) {
    if (busy) {
        calls.push_back(CallOf(UiCallKind::BusyOn));
        maxBusyDepth = std::max(maxBusyDepth, ++busyDepth);
        return;
    }
    calls.push_back(CallOf(UiCallKind::BusyOff));
    if (busyDepth == 0) {
        ++unmatchedBusyOff;
    } else {
        --busyDepth;
    }
}

std::optional<std::string> RecordingUi::AskOpenFile(const std::string& title,
                                                    const std::string& filter, int filterIndex) {
    UiCall call;
    call.kind = UiCallKind::AskOpenFile;
    call.title = title;
    call.filter = filter;
    call.filterIndex = filterIndex;
    calls.push_back(call);
    if (openFileAnswers.empty()) return std::nullopt;
    auto answer = openFileAnswers.front();
    openFileAnswers.pop_front();
    return answer;
}

std::optional<std::string> RecordingUi::AskSaveFile(const std::string& title,
                                                    const std::string& filter, int filterIndex) {
    UiCall call;
    call.kind = UiCallKind::AskSaveFile;
    call.title = title;
    call.filter = filter;
    call.filterIndex = filterIndex;
    calls.push_back(call);
    if (saveFileAnswers.empty()) return std::nullopt;
    auto answer = saveFileAnswers.front();
    saveFileAnswers.pop_front();
    return answer;
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
