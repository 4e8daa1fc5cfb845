# Windows programs of the project run under Wine, in a fresh prefix made
# inside the build tree by a setup test that the others require.
include_guard(GLOBAL)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VELMORA_WINE_ARCH win32)
else()
  set(VELMORA_WINE_ARCH win64)
endif()
set(VELMORA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VELMORA_WINE_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
set(VELMORA_WINE_RUN ${VELMORA_WINE_SCRIPT} ${VELMORA_WINE_PREFIX} ${VELMORA_WINE_ARCH})

add_test(NAME wine_prefix COMMAND ${VELMORA_WINE_RUN} init)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine SKIP_RETURN_CODE 77 TIMEOUT 400)

# velmora_add_wine_test(NAME EXE [ARGS...] [DISPLAY inherit|xvfb|none] [TIMEOUT seconds])
# runs EXE under Wine. DISPLAY: the caller's display (default), a private
# virtual X display (for programs that show windows), or none at all.
# TIMEOUT (default 600, at least 60) bounds the test; the program itself is
# stopped 30 seconds earlier so that the harness can clear the prefix.
# The prefix is one per build tree, so the tests using it run one at a time.
function(velmora_add_wine_test name exe)
  cmake_parse_arguments(PARSE_ARGV 2 wt "" "DISPLAY;TIMEOUT" "")
  if(NOT wt_DISPLAY)
    set(wt_DISPLAY inherit)
  elseif(NOT wt_DISPLAY MATCHES "^(inherit|xvfb|none)$")
    message(FATAL_ERROR "velmora_add_wine_test(${name}): DISPLAY must be inherit, xvfb or none")
  endif()
  if(NOT wt_TIMEOUT)
    set(wt_TIMEOUT 600)
  elseif(NOT wt_TIMEOUT MATCHES "^[0-9]+$" OR wt_TIMEOUT LESS 60)
    message(FATAL_ERROR "velmora_add_wine_test(${name}): TIMEOUT must be a number of seconds, at least 60")
  endif()
  math(EXPR program_limit "${wt_TIMEOUT} - 30")
  # The settings travel in the command line, not in the ENVIRONMENT property,
  # so that a caller setting ENVIRONMENT on the test cannot lose them.
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env VELMORA_WINE_DISPLAY=${wt_DISPLAY}
                   VELMORA_WINE_TIMEOUT=${program_limit}
                   ${VELMORA_WINE_RUN} run ${exe} ${wt_UNPARSED_ARGUMENTS})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77
                       TIMEOUT ${wt_TIMEOUT} RESOURCE_LOCK wineprefix)
endfunction()
