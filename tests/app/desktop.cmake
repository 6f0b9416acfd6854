# The desktop program's tests: real forms driven offscreen with QtTest.
if(VELORIZER_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

  add_library(desktop_testsupport STATIC desktop/DesktopTestSupport.cpp desktop/DesktopTestSupport.h)
  target_include_directories(desktop_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/desktop)
  target_link_libraries(desktop_testsupport PUBLIC velorizer_app engine_testsupport Qt6::Test)
  velorizer_target_defaults(desktop_testsupport)

  # velorizer_qttest(<name> <source> [TIMEOUT s] [FUNCTIONS f...])
  # FUNCTIONS: only these test functions run. A QSKIP makes CTest count the
  # whole program as skipped.
  function(velorizer_qttest name source)
    cmake_parse_arguments(ARG "" "TIMEOUT" "FUNCTIONS" ${ARGN})
    if(NOT ARG_TIMEOUT)
      set(ARG_TIMEOUT 60)
    endif()
    add_executable(${name} ${source})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE desktop_testsupport)
    target_compile_definitions(${name} PRIVATE VELORIZER_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                               VELORIZER_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    velorizer_target_defaults(${name})
    add_test(NAME ${name} COMMAND ${name} ${ARG_FUNCTIONS})
    # No display needed; an unanswered dialog fails the test instead of hanging it.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;${VELORIZER_TEST_STATE}"
      TIMEOUT ${ARG_TIMEOUT} LABELS app SKIP_REGULAR_EXPRESSION "SKIP   : [A-Za-z_]+::")
  endfunction()

  velorizer_qttest(test_desktop_window desktop/MainWindowTest.cpp)
  velorizer_qttest(test_desktop_list desktop/FileListTest.cpp)
  velorizer_qttest(test_desktop_run desktop/BatchRunTest.cpp TIMEOUT 120)
  add_dependencies(test_desktop_run vexlor-monitor)
  # The questions again on a screen that does not start at the origin, with window frames.
  add_test(NAME test_desktop_run_offset_screen COMMAND test_desktop_run confirmationDialog aLongQuestionFitsOnTheScreen)
  set_tests_properties(test_desktop_run_offset_screen PROPERTIES TIMEOUT 60 LABELS app ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/desktop/offset-screen.json;LC_ALL=C.UTF-8;${VELORIZER_TEST_STATE}")
  # The number boxes under a locale with a decimal point and one with a comma,
  # which is built here: few machines carry it.
  velorizer_qttest(test_desktop_numbers desktop/PanelNumbersTest.cpp)
  set(german_locale ${CMAKE_CURRENT_BINARY_DIR}/locales)
  add_test(NAME desktop_german_locale COMMAND sh -c "mkdir -p '${german_locale}' && localedef -i de_DE -f UTF-8 '${german_locale}/de_DE.UTF-8'")
  set_tests_properties(desktop_german_locale PROPERTIES FIXTURES_SETUP german_locale TIMEOUT 120 LABELS app)
  add_test(NAME test_desktop_numbers_german COMMAND test_desktop_numbers)
  set_tests_properties(test_desktop_numbers_german PROPERTIES FIXTURES_REQUIRED german_locale TIMEOUT 60 LABELS app
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LOCPATH=${german_locale};LC_ALL=de_DE.UTF-8;${VELORIZER_TEST_STATE}")
  velorizer_qttest(test_desktop_e2e desktop/EndToEndTest.cpp TIMEOUT 120)
  # The same windows on screens scaled by 1, 1.5 and 2.
  velorizer_qttest(test_desktop_scaling desktop/ScalingTest.cpp)
  set_tests_properties(test_desktop_scaling PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;QT_SCALE_FACTOR=1")
  foreach(scale 1.5 2)
    add_test(NAME test_desktop_scaling_${scale} COMMAND test_desktop_scaling)
    set_tests_properties(test_desktop_scaling_${scale} PROPERTIES TIMEOUT 60 LABELS app
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;QT_SCALE_FACTOR=${scale}")
  endforeach()
  # Scale 2 on a 1280 x 800 screen: 400 lines, fewer than the window needs.
  add_test(NAME test_desktop_scaling_small_screen COMMAND test_desktop_scaling)
  set_tests_properties(test_desktop_scaling_small_screen PROPERTIES TIMEOUT 60 LABELS app ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/desktop/small-screen.json;LC_ALL=C.UTF-8;QT_SCALE_FACTOR=2")
  if(NOT VELORIZER_FUZZ)
    add_dependencies(test_desktop_e2e velorize)
  endif()

  # Closing the window ends the process: checked on a child process.
  add_executable(desktop_close_helper desktop/CloseHelper.cpp)
  target_link_libraries(desktop_close_helper PRIVATE velorizer_app Qt6::Test)
  velorizer_target_defaults(desktop_close_helper)
  add_dependencies(test_desktop_window desktop_close_helper)

  # The splash's close request, sent to the program as built on a real X server.
  add_test(NAME test_desktop_splash_close COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/desktop/splash-close.sh $<TARGET_FILE:velorun>)
  set_tests_properties(test_desktop_splash_close PROPERTIES TIMEOUT 60 LABELS app)

  # Not a test: scripts/screenshots.sh runs it under a virtual display.
  add_executable(desktop_screenshots desktop/ScreenshotDriver.cpp)
  target_link_libraries(desktop_screenshots PRIVATE velorizer_app Qt6::Test)
  velorizer_target_defaults(desktop_screenshots)
endif()


# Preview against the private PulseAudio server of the player's tests.
if(VELORIZER_GUI AND DEFINED PULSE_TEST_DIR)
  # noAudioServer runs on its own below, where no server answers.
  velorizer_qttest(test_desktop_preview desktop/PreviewTest.cpp FUNCTIONS
    playsSixteenAndTwentyFourBitFiles aNameThatIsNotUtf8IsPlayedAsItIs whatCannotBePlayedIsReported)
  set_tests_properties(test_desktop_preview PROPERTIES
    FIXTURES_REQUIRED pulse RESOURCE_LOCK pulse_null_sink
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;PULSE_SERVER=unix:${PULSE_TEST_DIR}/native;PULSE_COOKIE=${PULSE_TEST_DIR}/home/.config/pulse/cookie")
  add_test(NAME test_desktop_preview_no_server COMMAND test_desktop_preview noAudioServer)
  set_tests_properties(test_desktop_preview_no_server PROPERTIES TIMEOUT 60 LABELS app
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;PULSE_SERVER=unix:${PULSE_TEST_DIR}/no-server-here")
endif()
