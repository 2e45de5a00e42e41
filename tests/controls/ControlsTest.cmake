# The preset bar, the main menu and the update pill with a real processor, through simulated mouse
# events and the popups' result callbacks. No display: components are built and painted in-process.
file(GLOB VELARUNE_CONTROLS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/controls/*.cpp)
add_executable(velarune_controls_test ${VELARUNE_CONTROLS_TEST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/support/JuceTestMain.cpp)
target_link_libraries(velarune_controls_test PRIVATE Velarune velarune_core GTest::gtest)
target_include_directories(velarune_controls_test PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(velarune_controls_test SYSTEM PRIVATE $<TARGET_PROPERTY:Velarune,INCLUDE_DIRECTORIES>)
target_compile_definitions(velarune_controls_test PRIVATE $<TARGET_PROPERTY:Velarune,COMPILE_DEFINITIONS>
    VELARUNE_CONTROLS_SNAPSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}/controls-snapshots")
target_compile_options(velarune_controls_test PRIVATE -Wall -Wextra)
add_test(NAME velarune_controls_test COMMAND velarune_controls_test)
# Each run keeps its files in the build tree and asks a closed local port for updates.
set_tests_properties(velarune_controls_test PROPERTIES TIMEOUT 300 ENVIRONMENT
    "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/controls-data;BRINDLECOT_UPDATES_URL=http://127.0.0.1:9/updates.json")
