// The Standalone app quits cleanly on SIGTERM and SIGHUP, as on a window close: the settings are
// saved, the audio device (a JACK client, say) is closed and the process exits with status 0.
// JUCE itself only handles SIGINT; without this a service manager's stop would kill the app mid-
// block. The signal handler only sets a flag; the message thread polls it and asks the
// application to quit.
#pragma once

#include <juce_events/juce_events.h>

namespace brindlecot {

class StandaloneQuit : private juce::Timer
{
public:
    /// Installs the handlers; call on the message thread of a standalone application.
    StandaloneQuit();
    ~StandaloneQuit() override;

    /// True once SIGTERM or SIGHUP arrived (for tests).
    static bool requested();

private:
    void timerCallback() override;
    bool asked_ = false;
};

} // namespace brindlecot
