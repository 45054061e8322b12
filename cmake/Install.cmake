# Installation (`make install`) and the Debian package (`make package`).
# The programs read no files at run time, so they work from wherever they
# are installed; everything else installed is for the desktop and for man.
include(GNUInstallDirs)

find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)

# Manual pages from the programs' own --help and --version, with the
# hand-written sections (keys, exit status, files) from data/man.
set(MORVANE_MAN_DIR ${CMAKE_BINARY_DIR}/man)
function(morvane_man_page program section summary)
  set(page ${MORVANE_MAN_DIR}/${program}.${section})
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MORVANE_MAN_DIR}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=${section}
            --name=${summary} --include=${CMAKE_SOURCE_DIR}/data/man/${program}.h2m
            --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${program} ${CMAKE_SOURCE_DIR}/data/man/${program}.h2m
    COMMENT "Writing the manual page ${program}(${section})"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY MORVANE_MAN_PAGES ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
morvane_man_page(morvane 6 "a real-time audiovisual demo in step with its own tracker music")
morvane_man_page(morvane-render 1 "draw the Morvane show offline: stills, sound and timings")
get_property(pages GLOBAL PROPERTY MORVANE_MAN_PAGES)
add_custom_target(man_pages ALL DEPENDS ${pages})

# Debian wants the changelog compressed reproducibly beside the copyright
# (a native package's changelog is changelog.gz).
set(MORVANE_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${MORVANE_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/data/debian/changelog ${CMAKE_BINARY_DIR}/changelog
  COMMAND ${GZIP} -9nf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/data/debian/changelog
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${MORVANE_CHANGELOG})

install(TARGETS morvane morvane-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/morvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 64 256)
  install(FILES ${CMAKE_BINARY_DIR}/icons/morvane-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME morvane.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright ${MORVANE_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/morvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Morvane developers <morvane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo in step with its own tracker music")
# The summary is the first line; the long description follows it.
set(CPACK_PACKAGE_DESCRIPTION "Morvane plays a fixed show of eight software-rendered scenes, 168.81 seconds
long, full screen and in step with its own tracker soundtrack: a helix
tunnel, rhythm discs, branching trees, a ray-cast floor under clouds, a
rippling grid, ray-traced spheres, a dented sphere and a lattice of cubes.

morvane-render draws the same show offline as PNG stills, WAV sound or a
video with its sound, and times each scene.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://morvane.example.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
