# The preview player. Decoding and conversion run anywhere; playback runs
# against a private PulseAudio server with a null sink, started as a fixture.
if(NOT VELORIZER_GUI)
  return()
endif()

velorizer_gtest(test_wavesource SOURCES WaveSourceTest.cpp LIBS waveplayer engine_testsupport TIMEOUT 30 LABELS app)

find_package(Qt6 REQUIRED COMPONENTS Core)
add_executable(test_player WavePlayerTest.cpp)
target_link_libraries(test_player PRIVATE waveplayer engine_testsupport Qt6::Core GTest::gtest)
velorizer_target_defaults(test_player)

# Unix socket paths are short (108 bytes), so the server lives in /tmp under a
# name tied to this build tree.
string(MD5 _pulse_tag "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_pulse_tag}" 0 10 _pulse_tag)
set(PULSE_TEST_DIR "/tmp/velorizer-pulse-${_pulse_tag}")

add_test(NAME player.pulse.start COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/start-pulse.sh ${PULSE_TEST_DIR})
add_test(NAME player.pulse.stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/stop-pulse.sh ${PULSE_TEST_DIR})
set_tests_properties(player.pulse.start PROPERTIES FIXTURES_SETUP pulse TIMEOUT 20 LABELS app)
set_tests_properties(player.pulse.stop PROPERTIES FIXTURES_CLEANUP pulse TIMEOUT 20 LABELS app)

# One at a time: each test listens to the null sink and must hear only itself.
gtest_discover_tests(test_player TEST_FILTER "-NoAudioServer.*" DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 30 LABELS app FIXTURES_REQUIRED pulse RESOURCE_LOCK pulse_null_sink
    ENVIRONMENT "PULSE_SERVER=unix:${PULSE_TEST_DIR}/native;PULSE_COOKIE=${PULSE_TEST_DIR}/home/.config/pulse/cookie;QT_QPA_PLATFORM=offscreen")
# The same program where no server answers.
gtest_discover_tests(test_player TEST_FILTER "NoAudioServer.*" DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 30 LABELS app
    ENVIRONMENT "PULSE_SERVER=unix:${PULSE_TEST_DIR}/no-server-here;QT_QPA_PLATFORM=offscreen")
