# The whole chain through the built VST3 against the core frame (see the source).
juce_add_console_app(velarune_vst3_bench PRODUCT_NAME "velarune_vst3_bench")
target_sources(velarune_vst3_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/plugin/Vst3PathBench.cpp)
target_include_directories(velarune_vst3_bench PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(velarune_vst3_bench PRIVATE velarune_core velarune_juce_vst3_hosting)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/plugin/Vst3PathBench.cpp PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra")
add_dependencies(velarune_vst3_bench Velarune_VST3)
if(VELARUNE_BUILD_TESTS)
    # CI only checks that it runs; the figures come from a quiet machine.
    add_test(NAME velarune_vst3_bench_runs COMMAND velarune_vst3_bench --seconds 0.2)
    set_tests_properties(velarune_vst3_bench_runs PROPERTIES TIMEOUT 120
        ENVIRONMENT "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/bench-data;BRINDLECOT_UPDATES_URL=http://127.0.0.1:9/updates.json")
endif()
