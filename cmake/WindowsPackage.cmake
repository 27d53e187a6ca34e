# The Windows zip: one folder, morlane-VERSION-win64, holding the programs (stripped of
# their debug sections), the sample-image generator and a README for Windows users.
install(TARGETS morlane-cli sample_images RUNTIME DESTINATION .)
if(TARGET morlane)
  install(TARGETS morlane RUNTIME DESTINATION .)
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
               ${CMAKE_BINARY_DIR}/package-files/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/package-files/README.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME morlane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
