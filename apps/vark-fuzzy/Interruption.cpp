#include "Interruption.h"

#include <csignal>

namespace vark::app {

namespace {

volatile std::sig_atomic_t g_signal = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

extern "C" void NoteSignal(int signal) {
    g_signal = signal;
}

}  // namespace

InterruptionGuard::InterruptionGuard() {
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = &NoteSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        sigaction(kSignals[i], &action, &g_previous[i]);
    }
}

InterruptionGuard::~InterruptionGuard() {
    for (int i = 0; i < 3; ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
}

int InterruptionGuard::Signal() {
    return g_signal;
}

}  // namespace vark::app
