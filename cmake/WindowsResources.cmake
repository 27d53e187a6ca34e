# The resources every Windows program of the tool carries: its icon, drawn by the window's
# own icon code, a manifest (common controls 6, per-monitor DPI awareness, no elevation)
# and its version information. Compiled by the toolchain's resource compiler into an
# object the program links, so no further language is needed in the project.
#   morlane_windows_resources(TARGET NAME "DESCRIPTION")

if(NOT CMAKE_RC_COMPILER)
  find_program(CMAKE_RC_COMPILER NAMES ${MORLANE_MINGW_PREFIX}-windres windres REQUIRED)
endif()

# The icon is drawn on the machine that builds, so the tool that draws it is built for
# that machine, not for Windows.
function(morlane_windows_icon)
  if(TARGET morlane_windows_icon)
    return()
  endif()
  find_program(MORLANE_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/windows-resources)
  set(tool ${dir}/make_ico)
  if(CMAKE_HOST_WIN32)
    set(tool ${tool}.exe)
  endif()
  set(icon ${dir}/morlane.ico)
  set(sources ${PROJECT_SOURCE_DIR}/src/win/resources/make_ico.cpp
              ${PROJECT_SOURCE_DIR}/src/win/app_icon_pixels.cpp)
  add_custom_command(OUTPUT ${tool}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                     COMMAND ${MORLANE_HOST_CXX} -std=c++20 -O2 -I${PROJECT_SOURCE_DIR}/src
                             ${sources} -o ${tool}
                     DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/src/win/app_icon_pixels.h
                             ${PROJECT_SOURCE_DIR}/src/win/le_bytes.h
                     COMMENT "Building the icon drawer for the build machine" VERBATIM)
  add_custom_command(OUTPUT ${icon} COMMAND ${tool} ${icon} DEPENDS ${tool}
                     COMMENT "Drawing the programs' icon" VERBATIM)
  add_custom_target(morlane_windows_icon DEPENDS ${icon})
  set_property(GLOBAL PROPERTY MORLANE_WINDOWS_ICON ${icon})
endfunction()

function(morlane_windows_resources target name description)
  morlane_windows_icon()
  get_property(icon GLOBAL PROPERTY MORLANE_WINDOWS_ICON)
  set(MORLANE_RC_NAME ${name})
  set(MORLANE_RC_DESCRIPTION ${description})
  set(MORLANE_RC_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
  set(MORLANE_RC_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0)
  set(MORLANE_RC_ICON ${icon})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(MORLANE_RC_MANIFEST ${dir}/${name}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/src/win/resources/morlane.manifest.in ${MORLANE_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/src/win/resources/morlane.rc.in ${dir}/${name}.rc @ONLY)
  set(object ${dir}/${name}.res.obj)
  add_custom_command(OUTPUT ${object}
                     COMMAND ${CMAKE_RC_COMPILER} --input-format=rc --output-format=coff
                             -i ${dir}/${name}.rc -o ${object}
                     DEPENDS ${dir}/${name}.rc ${MORLANE_RC_MANIFEST} ${icon}
                     COMMENT "Compiling the resources of ${name}" VERBATIM)
  target_sources(${target} PRIVATE ${object})
  add_dependencies(${target} morlane_windows_icon)
endfunction()
