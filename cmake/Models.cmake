# The bleed models are embedded into the core library when resources/models/ holds them, so the
# plug-in, the command-line tools and the tests all find the same models. Without them the build
# still succeeds and the plug-in reports the missing key.
set(VELARUNE_MODEL_FILES "")
foreach(model big_base_s1.bin gig_eco_v2.bin)
    if(EXISTS ${CMAKE_SOURCE_DIR}/resources/models/${model})
        list(APPEND VELARUNE_MODEL_FILES ${CMAKE_SOURCE_DIR}/resources/models/${model})
    endif()
endforeach()
