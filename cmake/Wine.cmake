# Windows programs of the project run under Wine, in a fresh prefix made
# inside the build tree by a setup test that the others require.
include_guard(GLOBAL)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VELMORA_WINE_ARCH win32)
else()
  set(VELMORA_WINE_ARCH win64)
endif()
set(VELMORA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VELMORA_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${VELMORA_WINE_PREFIX} ${VELMORA_WINE_ARCH})

add_test(NAME wine_prefix COMMAND ${VELMORA_WINE_RUN} init)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine SKIP_RETURN_CODE 77 TIMEOUT 400)

# velmora_add_wine_test(NAME EXE [ARGS...]): runs EXE under Wine.
function(velmora_add_wine_test name exe)
  add_test(NAME ${name} COMMAND ${VELMORA_WINE_RUN} run ${exe} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77 TIMEOUT 600
                       RESOURCE_LOCK wineprefix)
endfunction()
