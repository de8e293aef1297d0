# SPDX-License-Identifier: GPL-3.0-or-later
# Install layout (GNUInstallDirs) and the Debian package built by `cpack -G DEB`.
include(GNUInstallDirs)

set(TANDO_APP_ID org.norvel.TandoProjectEditor)
set(TANDO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(TANDO_ICON_SIZES 16 24 32 48 64 128 256)
# The Debian packages of the QML modules the window loads (its imports, and
# Templates 2 through Controls 2): QML plugins are loaded at run time, so
# dpkg-shlibdeps cannot see them; tst_package checks this list against what the
# installed editor loads. The font is the one the window asks for ("Arial"
# resolves to Liberation Sans through fontconfig).
set(TANDO_RUNTIME_PACKAGES
  libqt5svg5
  qml-module-qtquick2
  qml-module-qtquick-window2
  qml-module-qtquick-controls2
  qml-module-qtquick-templates2
  qml-module-qtquick-dialogs
  qml-module-qtquick-layouts
  fonts-liberation)

# Directories the install creates get the usual modes whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tando-project-editor tando-project RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (cpack's) drops the compilers' version notes too, as
# Debian's own packages do.
install(CODE "set(_tando_strip \"${CMAKE_STRIP}\")
set(_tando_programs ${CMAKE_INSTALL_BINDIR}/tando-project-editor ${CMAKE_INSTALL_BINDIR}/tando-project)")
install(CODE [[
if(CMAKE_INSTALL_DO_STRIP)
  foreach(program IN LISTS _tando_programs)
    execute_process(COMMAND "${_tando_strip}" --remove-section=.comment
                            "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${program}"
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "${_tando_strip} --remove-section=.comment ${program} failed: ${_rc}")
    endif()
  endforeach()
endif()]])
install(FILES ${TANDO_PACKAGING_DIR}/${TANDO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TANDO_PACKAGING_DIR}/${TANDO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TANDO_PACKAGING_DIR}/${TANDO_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# PNG sizes of the icon, rendered from the SVG at build time.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(_icon_pngs)
foreach(size IN LISTS TANDO_ICON_SIZES)
  set(_png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${TANDO_APP_ID}.png)
  add_custom_command(OUTPUT ${_png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${_png} ${TANDO_PACKAGING_DIR}/${TANDO_APP_ID}.svg
    DEPENDS ${TANDO_PACKAGING_DIR}/${TANDO_APP_ID}.svg
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND _icon_pngs ${_png})
  install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages, with the project version filled in and compressed as Debian ships them.
set(_manpages)
foreach(page tando-project tando-project-editor)
  configure_file(${TANDO_PACKAGING_DIR}/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND gzip --no-name --best --force --keep ${page}.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man
    VERBATIM)
  list(APPEND _manpages ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_PACKAGE_NAME tando-project-editor)
set(CPACK_PACKAGE_VENDOR Norvel)
set(CPACK_PACKAGE_CONTACT "Norvel <tando@norvel.example>")

# The copyright file (machine-readable, naming the licences of the linked
# libraries too) and the changelog that Debian expects of every package. The
# version number has no Debian revision, so the package counts as native and
# its changelog.gz is a Debian changelog, made from NEWS.md.
set(TANDO_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
set(_changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND bash ${TANDO_PACKAGING_DIR}/news-to-changelog.sh ${CMAKE_SOURCE_DIR}/NEWS.md
          ${CPACK_PACKAGE_NAME} ${PROJECT_VERSION} ${CPACK_PACKAGE_CONTACT} ${_changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/NEWS.md ${TANDO_PACKAGING_DIR}/news-to-changelog.sh
  COMMENT "Writing the package's changelog from NEWS.md"
  VERBATIM)
install(FILES ${TANDO_PACKAGING_DIR}/copyright ${_changelog} DESTINATION ${TANDO_PACKAGE_DOC_DIR})

add_custom_target(packaging-data ALL DEPENDS ${_icon_pngs} ${_manpages} ${_changelog})

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for Tando project archives of networked devices")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tando-project-editor)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://norvel.example/tando-project-editor)
# The long description; cpack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tando Project Editor opens a project archive (.tgz) of networked devices,
renames the project, relabels devices and re-addresses replaced devices
(new MAC, same vendor prefix), and stores a new archive that the devices
accept. Every file it does not interpret is carried through byte for byte.

The package also has tando-project, a command-line tool that shows and
edits the same archives without a window.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
list(JOIN TANDO_RUNTIME_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
