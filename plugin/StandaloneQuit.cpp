#include "plugin/StandaloneQuit.h"

#include <csignal>

namespace brindlecot {

namespace {
volatile std::sig_atomic_t gQuitSignal = 0;
extern "C" void onQuitSignal(int signal)
{
    gQuitSignal = signal;
}
} // namespace

StandaloneQuit::StandaloneQuit()
{
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    startTimer(50);
}

StandaloneQuit::~StandaloneQuit()
{
    stopTimer();
}

bool StandaloneQuit::requested()
{
    return gQuitSignal != 0;
}

void StandaloneQuit::timerCallback()
{
    if (asked_ || !requested())
        return;
    if (auto* app = juce::JUCEApplicationBase::getInstance()) {
        asked_ = true;
        app->systemRequestedQuit();
    }
}

} // namespace brindlecot
