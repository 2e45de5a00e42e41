# The JUCE plug-in: VST3, LV2 and Standalone around the framework-free core.
set(VELARUNE_COMPANY_WEBSITE "https://brindlecot.example")

juce_add_plugin(Velarune
    PRODUCT_NAME "Velarune"
    COMPANY_NAME "Brindlecot"
    COMPANY_WEBSITE "${VELARUNE_COMPANY_WEBSITE}"
    COMPANY_EMAIL ""
    BUNDLE_ID ""
    VERSION 0.12.6
    PLUGIN_MANUFACTURER_CODE Bdlc
    PLUGIN_CODE Vlru
    FORMATS VST3 LV2 Standalone
    VST3_CATEGORIES Fx Dynamics
    LV2URI "${VELARUNE_COMPANY_WEBSITE}/plugins/velarune"
    IS_SYNTH FALSE
    NEEDS_MIDI_INPUT FALSE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    COPY_PLUGIN_AFTER_BUILD FALSE
    DESCRIPTION "Live vocal bleed and feedback suppression")

# The editor: layout and theme (editor/), one unit per control class (controls/), and the
# processor's JUCE glue (plugin/).
file(GLOB VELARUNE_EDITOR_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/editor/*.cpp
    ${CMAKE_SOURCE_DIR}/controls/*.cpp)
set(VELARUNE_PLUGIN_SOURCES
    ${CMAKE_SOURCE_DIR}/plugin/BrindlecotDeFeedback.cpp
    ${CMAKE_SOURCE_DIR}/plugin/HostParameters.cpp
    ${CMAKE_SOURCE_DIR}/plugin/ReaperHost.cpp
    ${CMAKE_SOURCE_DIR}/plugin/PresetActions.cpp
    ${CMAKE_SOURCE_DIR}/plugin/StandaloneQuit.cpp
    ${VELARUNE_EDITOR_SOURCES})
target_sources(Velarune PRIVATE ${VELARUNE_PLUGIN_SOURCES})

# Fonts (Roboto, Apache-2.0, see resources/fonts/) and the logo, compiled into the module.
set(VELARUNE_EDITOR_RESOURCES
    ${CMAKE_SOURCE_DIR}/resources/fonts/Roboto-Regular.ttf
    ${CMAKE_SOURCE_DIR}/resources/fonts/RobotoCondensed-Bold.ttf
    ${CMAKE_SOURCE_DIR}/resources/velarune-lockup.svg)
juce_add_binary_data(VelaruneEditorData
    HEADER_NAME VelaruneEditorData.h
    NAMESPACE VelaruneEditorData
    SOURCES ${VELARUNE_EDITOR_RESOURCES})
# JUCE's generator only watches its list of inputs, which is rewritten at configure time: an edited
# font or logo re-runs the configuration so the embedded copy is regenerated.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELARUNE_EDITOR_RESOURCES})
set_target_properties(VelaruneEditorData PROPERTIES POSITION_INDEPENDENT_CODE ON)

# Never change: these decide the VST3 class identifiers, the parameter identities (indices 0..21)
# and the saved-state layout that hosts keep in their projects.
target_compile_definitions(Velarune PUBLIC
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_FORCE_USE_LEGACY_PARAM_IDS=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_USE_MP3AUDIOFORMAT=0
    JUCE_USE_LAME_AUDIO_FORMAT=0
    JUCE_USE_WINDOWS_MEDIA_FORMAT=0
    JUCE_MODAL_LOOPS_PERMITTED=0
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    # The Standalone app offers JACK beside ALSA (JUCE loads libjack at run time; the headers come
    # from libjack-jackd2-dev).
    JUCE_JACK=1
    # Stereo first (the default layout), then mono. With a list, the VST3 wrapper refuses any other
    # arrangement outright and keeps the current layout, instead of switching to a "next best" one:
    # Ardour asks a stereo plug-in on a mono track for 2 in / 1 out, still passes 2 and 2 channels,
    # and JUCE would otherwise have moved to mono and handed the host a silent buffer.
    "JucePlugin_PreferredChannelConfigurations={2,2},{1,1}")

# JUCE and the VST3 SDK are third-party code: include them as system headers so our warning flags
# (and a future -Werror) apply to our code only.
get_target_property(_juce_includes juce::juce_core INTERFACE_INCLUDE_DIRECTORIES)
target_include_directories(Velarune SYSTEM PRIVATE /usr/share/juce/modules ${_juce_includes}
    /usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK)
target_include_directories(Velarune PRIVATE ${CMAKE_SOURCE_DIR})

target_link_libraries(Velarune
    PRIVATE
        velarune_core
        VelaruneEditorData
        juce::juce_audio_utils
        juce::juce_audio_processors
    PUBLIC
        juce::juce_recommended_config_flags)
# Warnings for our own sources only (the JUCE module sources are compiled into the same target).
set_source_files_properties(${VELARUNE_PLUGIN_SOURCES} PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra")

# Only the entry points are exported: binary data and libstdc++ symbols stay inside the module.
if(TARGET Velarune_VST3)
    target_link_options(Velarune_VST3 PRIVATE "-Wl,--version-script=${CMAKE_SOURCE_DIR}/plugin/exports-vst3.map")
endif()
if(TARGET Velarune_LV2)
    target_link_options(Velarune_LV2 PRIVATE "-Wl,--version-script=${CMAKE_SOURCE_DIR}/plugin/exports-lv2.map")
    # JUCE's manifest writes the maker's e-mail as foaf:mbox even when it is empty, and the empty
    # IRI <> resolves to dsp.ttl itself, which hosts then show as the author's address. The maker
    # publishes none: drop the line (this runs after JUCE's own manifest step).
    add_custom_command(TARGET Velarune_LV2 POST_BUILD
        COMMAND sed -i "/foaf:mbox <> ;/d" "$<TARGET_FILE_DIR:Velarune_LV2>/dsp.ttl"
        VERBATIM)
endif()
# Debian's JUCE falls back to the plug-in name as LV2 URI unless every target sees ours.
target_compile_definitions(Velarune PUBLIC JucePlugin_LV2URI="${VELARUNE_COMPANY_WEBSITE}/plugins/velarune")

# What every program that hosts the built VST3 through JUCE needs (the host tests and the VST3 path
# benchmark): JUCE's VST3 hosting without the optional codecs, browser and network, the SDK headers
# as system headers, and the bundle's path.
add_library(velarune_juce_vst3_hosting INTERFACE)
target_compile_definitions(velarune_juce_vst3_hosting INTERFACE
    JUCE_PLUGINHOST_VST3=1
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    VELARUNE_VST3_BUNDLE="$<TARGET_FILE_DIR:Velarune_VST3>/../..")
target_include_directories(velarune_juce_vst3_hosting SYSTEM INTERFACE
    /usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK)
target_link_libraries(velarune_juce_vst3_hosting INTERFACE
    juce::juce_audio_processors juce::juce_recommended_config_flags)
