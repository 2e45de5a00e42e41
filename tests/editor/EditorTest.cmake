# The editor's JUCE tests: geometry, interaction through simulated mouse events, the idle task,
# golden screenshots rendered in-process, and opening/closing while audio runs. They link the
# plug-in's shared code (the static library juce_add_plugin builds), so they test the very
# objects the VST3, LV2 and Standalone formats wrap.
file(GLOB VELARUNE_EDITOR_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/editor/*.cpp)
add_executable(velarune_editor_tests ${VELARUNE_EDITOR_TEST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/support/JuceTestMain.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/support/RealtimeProbe.cpp)
target_link_libraries(velarune_editor_tests PRIVATE Velarune velarune_core GTest::gtest)
target_include_directories(velarune_editor_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(velarune_editor_tests SYSTEM PRIVATE
    $<TARGET_PROPERTY:Velarune,INCLUDE_DIRECTORIES>)
target_compile_definitions(velarune_editor_tests PRIVATE
    $<TARGET_PROPERTY:Velarune,COMPILE_DEFINITIONS>
    VELARUNE_EDITOR_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden/editor")
target_compile_options(velarune_editor_tests PRIVATE -Wall -Wextra)
add_test(NAME velarune_editor_tests COMMAND velarune_editor_tests)
set_tests_properties(velarune_editor_tests PROPERTIES TIMEOUT 600 ENVIRONMENT
    "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/editor-data;BRINDLECOT_UPDATES_URL=http://127.0.0.1:9/updates.json")

# The editor's CPU share with moving meters (not a test: run it under Xvfb, see the source).
add_executable(velarune_editor_cpu ${CMAKE_SOURCE_DIR}/bench/editor/EditorCpuLoad.cpp)
target_link_libraries(velarune_editor_cpu PRIVATE Velarune velarune_core X11)
target_include_directories(velarune_editor_cpu PRIVATE ${CMAKE_SOURCE_DIR})
target_include_directories(velarune_editor_cpu SYSTEM PRIVATE $<TARGET_PROPERTY:Velarune,INCLUDE_DIRECTORIES>)
target_compile_definitions(velarune_editor_cpu PRIVATE $<TARGET_PROPERTY:Velarune,COMPILE_DEFINITIONS>)
