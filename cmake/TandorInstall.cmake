# Installation. The program's folder lib/tandorfile holds everything the program loads from beside
# itself: the window and the command-line front, the zip and unzip engines, the RAR library, the
# self-extractor stub and the help pages. bin/ links to the two programs; a marker file tells the
# installed program to keep its settings and temporary files in the XDG folders.
set(TANDOR_INSTALL_PROGRAM_DIR lib/tandorfile)

install(TARGETS tandorfile tandor RUNTIME DESTINATION ${TANDOR_INSTALL_PROGRAM_DIR})
install(TARGETS zipeng unzeng unrar LIBRARY DESTINATION ${TANDOR_INSTALL_PROGRAM_DIR})
# The self-extractor stub (built stripped): read and copied into the programs users make, never run
# from here.
install(FILES $<TARGET_FILE:sfxstub> DESTINATION ${TANDOR_INSTALL_PROGRAM_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/help/ DESTINATION ${TANDOR_INSTALL_PROGRAM_DIR}/help)

file(WRITE ${CMAKE_BINARY_DIR}/install/installed
     "Tandor File was installed into this folder: it keeps its settings in $XDG_CONFIG_HOME/tandorfile\n"
     "and its temporary files in $XDG_CACHE_HOME/tandorfile.\n")
install(FILES ${CMAKE_BINARY_DIR}/install/installed DESTINATION ${TANDOR_INSTALL_PROGRAM_DIR})

install(CODE [[
  foreach(program tandorfile tandor)
    set(link "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/${program}")
    message(STATUS "Installing: ${link}")
    file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
    file(CREATE_LINK "../lib/tandorfile/${program}" "${link}" SYMBOLIC)
  endforeach()
]])

# Licence and release notes, as a Debian package carries them.
set(TANDOR_CONTACT "Tandor File developers <tandorfile@example.org>")
execute_process(COMMAND date -u -R -d "${TANDOR_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TANDOR_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/install/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/install/gz/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/install/changelog ${CMAKE_BINARY_DIR}/install/gz/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/install/gz/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/install/changelog VERBATIM)
add_custom_target(tandor_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/install/gz/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/install/gz/changelog.gz
        DESTINATION share/doc/tandorfile)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION share/lintian/overrides RENAME tandorfile)

# A plain install (no DESTDIR: not a package being staged) refreshes the desktop's databases itself.
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    find_program(UPDATE_MIME update-mime-database)
    find_program(UPDATE_DESKTOP update-desktop-database)
    if(UPDATE_MIME)
      execute_process(COMMAND ${UPDATE_MIME} "${CMAKE_INSTALL_PREFIX}/share/mime")
    endif()
    if(UPDATE_DESKTOP)
      execute_process(COMMAND ${UPDATE_DESKTOP} -q "${CMAKE_INSTALL_PREFIX}/share/applications")
    endif()
  endif()
]])
