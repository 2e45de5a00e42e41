# Loads the built Velarune.vst3 through JUCE's own VST3 hosting, as a host would.
juce_add_console_app(velarune_host_test PRODUCT_NAME "velarune_host_test")
set(VELARUNE_HOST_TEST_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/host/VST3HostTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/VST3StressTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/StandaloneScreenshotTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/StandaloneJackTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/XWindowGrab.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/support/RealtimeProbe.cpp)
target_sources(velarune_host_test PRIVATE ${VELARUNE_HOST_TEST_SOURCES})
target_include_directories(velarune_host_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
# The real-time probe's malloc and lock functions must be visible to the plug-in that the test
# loads with dlopen, so the executable exports them.
foreach(symbol malloc calloc realloc memalign aligned_alloc posix_memalign pthread_mutex_lock
        pthread_mutex_trylock pthread_rwlock_rdlock pthread_rwlock_wrlock)
    target_link_options(velarune_host_test PRIVATE "LINKER:--export-dynamic-symbol=${symbol}")
endforeach()
target_link_libraries(velarune_host_test PRIVATE velarune_core ${CMAKE_DL_LIBS})
target_compile_definitions(velarune_host_test PRIVATE
    VELARUNE_STANDALONE="$<TARGET_FILE:Velarune_Standalone>"
    VELARUNE_EDITOR_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden/editor")
target_link_libraries(velarune_host_test PRIVATE velarune_juce_vst3_hosting GTest::gtest X11)
set_source_files_properties(${VELARUNE_HOST_TEST_SOURCES} PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra")
add_dependencies(velarune_host_test Velarune_VST3 Velarune_Standalone)
# Hosted instances keep their files in the build tree and ask a closed local port for updates, so the
# tests neither touch the user's data nor reach for the network.
set(VELARUNE_HOST_TEST_ENV
    "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/host-data"
    "BRINDLECOT_UPDATES_URL=http://127.0.0.1:9/updates.json")
add_test(NAME velarune_vst3_host COMMAND velarune_host_test --gtest_filter=-VST3HostEditor.*:StandaloneApp.*)
set_tests_properties(velarune_vst3_host PROPERTIES TIMEOUT 300 ENVIRONMENT "${VELARUNE_HOST_TEST_ENV}")
# The hosted editor needs a display: Xvfb through xvfb-run (package xvfb, installed by the scripts).
find_program(XVFB_RUN xvfb-run)
if(XVFB_RUN)
    add_test(NAME velarune_vst3_host_editor
        COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1080x24" $<TARGET_FILE:velarune_host_test>
                --gtest_filter=VST3HostEditor.*:StandaloneApp.*-StandaloneApp.RunsOnJack*)
    set_tests_properties(velarune_vst3_host_editor PROPERTIES TIMEOUT 300 ENVIRONMENT "${VELARUNE_HOST_TEST_ENV}")
    # The Standalone app on a JACK server (dummy backend; package jackd2, skipped without it). Run
    # alone: the server runs without real-time scheduling, so a busy machine could miss a cycle.
    add_test(NAME velarune_standalone_jack
        COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1080x24" $<TARGET_FILE:velarune_host_test>
                --gtest_filter=StandaloneApp.RunsOnJack*)
    set_tests_properties(velarune_standalone_jack PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE
        ENVIRONMENT "${VELARUNE_HOST_TEST_ENV}")
endif()

# The same bundles in a real host: Debian's Ardour 7, headless, on mono and stereo tracks, with a
# parameter and the state saved in the session (skipped without Ardour).
get_filename_component(VELARUNE_SHARED_TOOLS ${CMAKE_SOURCE_DIR}/../shared/tools ABSOLUTE)
add_test(NAME velarune_ardour_render
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/ardour_render_test.sh
            $<TARGET_FILE_DIR:Velarune_VST3>/../.. ${VELARUNE_SHARED_TOOLS}/ardour-render.sh)
add_test(NAME velarune_ardour_render_lv2
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/ardour_render_test.sh
            $<TARGET_FILE_DIR:Velarune_LV2> ${VELARUNE_SHARED_TOOLS}/ardour-render.sh)
set_tests_properties(velarune_ardour_render velarune_ardour_render_lv2 PROPERTIES SKIP_RETURN_CODE 77
    TIMEOUT 600 ENVIRONMENT "${VELARUNE_HOST_TEST_ENV}")
# The LV2 bundle as Debian's lilv sees it (skipped without lilv-utils).
add_test(NAME velarune_lv2info COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/host/lv2info_test.sh $<TARGET_FILE_DIR:Velarune_LV2>)
set_tests_properties(velarune_lv2info PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
