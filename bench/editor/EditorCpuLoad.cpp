// Measures the editor's share of one core while its meters move: the editor is put on the desktop
// (run it under Xvfb), an audio thread feeds the processor a sung-like signal, the processor's
// idle timer drives the meters at about 30 Hz, and the message thread's CPU time is read after a
// fixed run. Usage: velarune_editor_cpu [scale] [seconds]
#include "editor/VelaruneEditor.h"
#include "plugin/BrindlecotDeFeedback.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <time.h>

// Xlib's error-handler hook, declared here because Xlib.h's macros clash with JUCE's names. A
// plug-in host process has no JUCE application, so JUCE leaves the default (fatal) handler in
// place; Xvfb refuses a few window-manager properties, which must not end the run.
extern "C" {
struct _XDisplay;
using XErrorHandlerFn = int (*)(_XDisplay*, void*);
XErrorHandlerFn XSetErrorHandler(XErrorHandlerFn handler);
}

namespace {
int ignoreXError(_XDisplay*, void*)
{
    return 0;
}

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// A transparent layer over the whole editor: the window system paints it with every region that
// is redrawn, so its count tells how many paints really happened.
struct PaintCounter : juce::Component
{
    int paints = 0;
    PaintCounter() { setInterceptsMouseClicks(false, false); }
    void paint(juce::Graphics&) override { ++paints; }
};

struct Stopper : juce::Timer
{
    void timerCallback() override
    {
        stopTimer();
        juce::MessageManager::getInstance()->stopDispatchLoop();
    }
};
} // namespace

int main(int argc, char** argv)
{
    const float scale = argc > 1 ? std::strtof(argv[1], nullptr) : 1.0f;
    const double seconds = argc > 2 ? std::strtod(argv[2], nullptr) : 10.0;
    juce::ScopedJuceInitialiser_GUI juceInit;
    XSetErrorHandler(ignoreXError);

    brindlecot::BrindlecotDeFeedback processor;
    processor.setPlayConfigDetails(2, 2, 48000.0, 256);
    processor.prepareToPlay(48000.0, 256);
    std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditorIfNeeded());
    auto* ed = dynamic_cast<brindlecot::editor::VelaruneEditor*>(editor.get());
    ed->applyWindowScale(scale);
    PaintCounter counter;
    counter.setBounds(ed->getLocalBounds());
    ed->addAndMakeVisible(counter);
    ed->setVisible(true);
    ed->addToDesktop(juce::ComponentPeer::windowIsTemporary);

    // Audio in real time: a 220 Hz tone whose level swings 20 dB twice a second, so every meter
    // keeps moving.
    std::atomic<bool> stop {false};
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        double phase = 0.0, lfo = 0.0;
        auto next = std::chrono::steady_clock::now();
        while (!stop.load()) {
            for (int i = 0; i < 256; ++i) {
                const double level = 0.03 + 0.27 * (0.5 + 0.5 * std::sin(lfo));
                const float v = static_cast<float>(level * std::sin(phase));
                phase += 2.0 * juce::MathConstants<double>::pi * 220.0 / 48000.0;
                lfo += 2.0 * juce::MathConstants<double>::pi * 2.0 / 48000.0;
                buffer.setSample(0, i, v);
                buffer.setSample(1, i, v);
            }
            processor.processBlock(buffer, midi);
            next += std::chrono::microseconds(5333);
            std::this_thread::sleep_until(next);
        }
    });

    Stopper stopper;
    stopper.startTimer(static_cast<int>(seconds * 1000.0));
    const double cpu0 = threadCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    juce::MessageManager::getInstance()->runDispatchLoop();
    const double cpu = threadCpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    stop.store(true);
    audio.join();
    std::printf(
        "scale %.2f: editor %dx%d, %d paints (%.1f per second), message thread %.3f s CPU in %.2f s = "
        "%.2f %% of one core\n",
        static_cast<double>(scale), ed->getWidth(), ed->getHeight(), counter.paints, counter.paints / wall,
        cpu, wall, 100.0 * cpu / wall);
    ed->removeChildComponent(&counter);
    ed->removeFromDesktop();
    processor.editorBeingDeleted(ed);
    editor.reset();
    return 0;
}
