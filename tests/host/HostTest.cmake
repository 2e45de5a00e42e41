# Loads the built Velarune.vst3 through JUCE's own VST3 hosting, as a host would.
juce_add_console_app(velarune_host_test PRODUCT_NAME "velarune_host_test")
target_sources(velarune_host_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/host/VST3HostTest.cpp)
target_compile_definitions(velarune_host_test PRIVATE
    JUCE_PLUGINHOST_VST3=1
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    VELARUNE_VST3_BUNDLE="$<TARGET_FILE_DIR:Velarune_VST3>/../..")
target_link_libraries(velarune_host_test PRIVATE
    juce::juce_audio_processors juce::juce_audio_utils juce::juce_recommended_config_flags
    GTest::gtest)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/host/VST3HostTest.cpp PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra")
add_dependencies(velarune_host_test Velarune_VST3)
add_test(NAME velarune_vst3_host COMMAND velarune_host_test)
set_tests_properties(velarune_vst3_host PROPERTIES TIMEOUT 300)
