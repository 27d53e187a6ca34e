# Sources that belong to one system only end in _posix.cpp or _win32.cpp; the other
# system's are left out of a folder's sources.
function(morlane_system_sources out)
  set(kept ${ARGN})
  if(WIN32)
    list(FILTER kept EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER kept EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# One static library per layer, built from every .cpp in its folder. The dependencies
# given here are the only ones a layer may use: the core below app/ and app/ itself never
# see Qt, which only gui/ links.
function(morlane_layer name)
  cmake_parse_arguments(L "" "DIR" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${L_DIR}/*.cpp)
  morlane_system_sources(sources ${sources})
  foreach(excluded ${L_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${L_DIR}/${excluded})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_DEPS})
endfunction()

# A test program per folder under tests/; each case becomes a CTest test.
function(morlane_test_folder name)
  cmake_parse_arguments(T "" "DIR" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${T_DIR}/*.cpp)
  morlane_system_sources(sources ${sources})
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${T_DEPS} morlane_testsupport GTest::gtest GTest::gmock
                        GTest::gtest_main)
  if(WIN32)
    # Under Wine every start of a program costs a fraction of a second, so a folder's
    # cases run as one test; a failure still names the case in the output.
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1
             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS};windows"
                         ENVIRONMENT "${MORLANE_WINE_ENVIRONMENT}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS "${T_LABELS}"
                         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
endfunction()
