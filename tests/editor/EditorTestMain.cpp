// The editor tests run with JUCE's message manager on the main thread, without a display: editors
// are rendered in-process with createComponentSnapshot.
#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
