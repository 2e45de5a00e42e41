# The bleed models are embedded into the core library when resources/models/ holds them, so the
# plug-in, the command-line tools and the tests all find the same models. Without them the build
# still succeeds and the plug-in reports the missing key.
set(VELARUNE_MODEL_FILES "")
foreach(model big_base_s1.bin gig_eco_v2.bin)
    if(EXISTS ${CMAKE_SOURCE_DIR}/resources/models/${model})
        list(APPEND VELARUNE_MODEL_FILES ${CMAKE_SOURCE_DIR}/resources/models/${model})
    endif()
endforeach()
# Re-run the configuration when a model appears in or leaves the folder.
if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/resources/models)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/models)
endif()

# The table of embedded blobs is generated at build time (an empty table when there are none).
set(VELARUNE_EMBEDDED_MODELS_CPP ${CMAKE_BINARY_DIR}/generated/EmbeddedModelData.cpp)
add_custom_command(
    OUTPUT ${VELARUNE_EMBEDDED_MODELS_CPP}
    COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${VELARUNE_EMBEDDED_MODELS_CPP}" "-DMODELS=${VELARUNE_MODEL_FILES}"
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedModels.cmake
    DEPENDS ${VELARUNE_MODEL_FILES} ${CMAKE_SOURCE_DIR}/cmake/EmbedModels.cmake
    COMMENT "Embedding bleed models"
    VERBATIM)
if(TARGET velarune_core)
    target_sources(velarune_core PRIVATE ${VELARUNE_EMBEDDED_MODELS_CPP})
endif()
