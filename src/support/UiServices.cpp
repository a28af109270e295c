#include "support/UiServices.h"

#include <iostream>
#include <string_view>

namespace vark {

namespace {

struct UiState {
    std::shared_ptr<UiServices> services;
    ConsoleUi console;
};

UiState& uiState() {
    static UiState state;
    return state;
}

std::string WithoutCarriageReturns(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace

MsgResult ConsoleUi::MsgBox(const std::string& prompt, MsgIcon, MsgButtons buttons,
                            const std::string& title) {
    std::cerr << '[' << WithoutCarriageReturns(title) << "] " << WithoutCarriageReturns(prompt)
              << std::endl;
    switch (buttons) {
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel:
            return MsgResult::Yes;
        case MsgButtons::Ok:
        case MsgButtons::OkCancel:
            break;
    }
    return MsgResult::Ok;
}

std::optional<std::string> ConsoleUi::AskOpenFile(const std::string& title, const std::string&,
                                                  int) {
    std::cerr << '[' << title << "] no file dialog in a headless run" << std::endl;
    return std::nullopt;
}

UiServices& Ui() {
    UiState& state = uiState();
    if (state.services) return *state.services;
    return state.console;
}

std::shared_ptr<UiServices> SetUi(std::shared_ptr<UiServices> services) {
    UiState& state = uiState();
    std::shared_ptr<UiServices> previous = std::move(state.services);
    state.services = std::move(services);
    return previous;
}

}  // namespace vark
