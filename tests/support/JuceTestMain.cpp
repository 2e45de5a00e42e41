// The main of the JUCE test programs (editor, controls): JUCE's message manager on the main thread
// and no display; components are built and painted in-process. Every run gets a fresh data folder and
// a feed URL on a closed local port, also when started by hand, so the tests never touch the user's
// presets or reach the network, and nothing an earlier run saved shows up in a golden image.
#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    const char* given = std::getenv("XDG_DATA_HOME");
    auto base = std::filesystem::path(given != nullptr && *given != '\0'
            ? given
            : (std::filesystem::temp_directory_path() / "velarune-juce-test").string());
    base /= "run-" + std::to_string(::getpid());
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    ::setenv("XDG_DATA_HOME", base.c_str(), 1);
    ::setenv("BRINDLECOT_UPDATES_URL", "http://127.0.0.1:9/updates.json", 1);

    juce::ScopedJuceInitialiser_GUI juce;
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(base);
    return result;
}
