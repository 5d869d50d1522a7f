# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where, and the Debian package that `cpack -G DEB` makes of it.
# Included last (deferred from the top CMakeLists.txt), so every program target exists by now,
# whichever folder made it; a program is installed, with its manual page, only when its target
# exists.
include(GNUInstallDirs)

# Addresses the package and the metainfo give out. The web addresses are empty unless a
# distributor sets them (-DVANTREL_HOMEPAGE=https://...): a package names no address nobody owns,
# and without them there is no Homepage field and no metainfo url or screenshot. The maintainer
# default is plainly a local build's (.invalid is a name that never resolves); a distributor
# sets its own: -DVANTREL_PACKAGE_MAINTAINER="Name <address>".
set(VANTREL_HOMEPAGE "" CACHE STRING "The project's web address (package Homepage, metainfo); empty: none")
set(VANTREL_SCREENSHOT_URL "" CACHE STRING
    "Web address of a screenshot of the window, e.g. docs/images/player-window.png published (metainfo); empty: none")
set(VANTREL_PACKAGE_MAINTAINER "Vantrel local build <local-build@vantrel.invalid>" CACHE STRING
    "Maintainer of the Debian package: name <address>")
set(VANTREL_RELEASE_DATE 2026-12-06)   # the day PROJECT_VERSION was released (metainfo, changelog)
set(VANTREL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel)   # Debian names it after the package
set(VANTREL_ICON_SIZES 16 22 24 32 48 64 128 256)

find_program(VANTREL_SCDOC scdoc DOC "scdoc, turns man/*.scd into manual pages")
find_program(VANTREL_RSVG_CONVERT rsvg-convert DOC "rsvg-convert (librsvg2-bin), draws the PNG icons")
find_program(VANTREL_GZIP gzip REQUIRED)
find_program(VANTREL_DATE date REQUIRED)

# Dates in the manual pages and the changelog are the release day's, so that two builds of the same
# sources give the same bytes.
execute_process(COMMAND ${VANTREL_DATE} -u -d ${VANTREL_RELEASE_DATE} +%s
  OUTPUT_VARIABLE release_epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${VANTREL_DATE} -u -R -d ${VANTREL_RELEASE_DATE}
  OUTPUT_VARIABLE VANTREL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(packaging_dir ${PROJECT_BINARY_DIR}/packaging)
set(man_dir ${packaging_dir}/man)
set_property(GLOBAL PROPERTY VANTREL_INSTALLED_PROGRAMS "")
set_property(GLOBAL PROPERTY VANTREL_GENERATED_DATA "")

# vantrel_gzip(SOURCE OUTPUT): OUTPUT is SOURCE compressed at build time, without name or time stamp.
function(vantrel_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c [["$1" -9nc "$2" > "$3"]] sh ${VANTREL_GZIP} ${source} ${output}
    DEPENDS ${source} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY VANTREL_GENERATED_DATA ${output})
endfunction()

# vantrel_install_program(NAME): installs the program NAME into bin/ and its manual page, made
# from man/NAME.1.scd, when the target NAME exists.
function(vantrel_install_program name)
  if(NOT TARGET ${name})
    return()
  endif()
  set(source ${PROJECT_SOURCE_DIR}/man/${name}.1.scd)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "The program ${name} has no manual page: write man/${name}.1.scd")
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY VANTREL_INSTALLED_PROGRAMS ${name})
  if(NOT VANTREL_SCDOC)
    return()
  endif()
  configure_file(${source} ${man_dir}/${name}.1.scd @ONLY)   # the version into the page's footer
  add_custom_command(OUTPUT ${man_dir}/${name}.1
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${release_epoch}
            sh -c [["$1" < "$2" > "$3"]] sh ${VANTREL_SCDOC} ${man_dir}/${name}.1.scd ${man_dir}/${name}.1
    DEPENDS ${man_dir}/${name}.1.scd VERBATIM)
  vantrel_gzip(${man_dir}/${name}.1 ${man_dir}/${name}.1.gz)
  install(FILES ${man_dir}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# One line per program.
vantrel_install_program(vantrel)
vantrel_install_program(vantrel-probe)
vantrel_install_program(vantrel-dvgen)
vantrel_install_program(vantrel-capture)
vantrel_install_program(vantrel-print)
vantrel_install_program(vantrel-grab)
vantrel_install_program(vantrel-split)
vantrel_install_program(vantrel-export)

get_property(installed_programs GLOBAL PROPERTY VANTREL_INSTALLED_PROGRAMS)
if(NOT VANTREL_SCDOC AND installed_programs)
  message(WARNING "scdoc not found: the manual pages are not built or installed (Debian package scdoc)")
endif()
# The install tests compare what was staged and packaged with this list.
list(JOIN installed_programs "\n" program_lines)
file(WRITE ${packaging_dir}/installed-programs.txt "${program_lines}\n")

# The desktop entry, the AppStream metainfo and the icons belong to the window.
if(TARGET vantrel)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${VANTREL_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)

  set(VANTREL_METAINFO_LINKS "")
  if(VANTREL_HOMEPAGE)
    string(APPEND VANTREL_METAINFO_LINKS "\n  <url type=\"homepage\">${VANTREL_HOMEPAGE}</url>")
  endif()
  if(VANTREL_SCREENSHOT_URL)
    string(APPEND VANTREL_METAINFO_LINKS "\n" [[
  <screenshots>
    <screenshot type="default">
      <caption>A DV tape playing, with the camcorder's data of the frame on screen</caption>
      <image>]] "${VANTREL_SCREENSHOT_URL}" [[</image>
    </screenshot>
  </screenshots>]])
  endif()
  set(VANTREL_PROVIDES_BINARIES "")
  foreach(program IN LISTS installed_programs)
    string(APPEND VANTREL_PROVIDES_BINARIES "    <binary>${program}</binary>\n")
  endforeach()
  string(STRIP "${VANTREL_PROVIDES_BINARIES}" VANTREL_PROVIDES_BINARIES)
  set(VANTREL_PROVIDES_BINARIES "    ${VANTREL_PROVIDES_BINARIES}")
  configure_file(${PROJECT_SOURCE_DIR}/data/${VANTREL_APP_ID}.metainfo.xml.in
    ${packaging_dir}/${VANTREL_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${packaging_dir}/${VANTREL_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

  set(icon ${PROJECT_SOURCE_DIR}/data/icons/vantrel.svg)
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  if(VANTREL_RSVG_CONVERT)
    foreach(size IN LISTS VANTREL_ICON_SIZES)
      set(png ${packaging_dir}/icons/${size}x${size}/vantrel.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${VANTREL_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${icon}
        DEPENDS ${icon} VERBATIM)
      set_property(GLOBAL APPEND PROPERTY VANTREL_GENERATED_DATA ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(WARNING "rsvg-convert not found: only the scalable icon is installed (Debian package librsvg2-bin)")
  endif()
endif()

# Debian asks every package for its copyright and changelog in /usr/share/doc/PACKAGE.
set(VANTREL_COPYRIGHT_SOURCE "")
if(VANTREL_HOMEPAGE)
  set(VANTREL_COPYRIGHT_SOURCE "\nSource: ${VANTREL_HOMEPAGE}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${packaging_dir}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${packaging_dir}/changelog @ONLY)
vantrel_gzip(${packaging_dir}/changelog ${packaging_dir}/changelog.gz)
install(FILES ${packaging_dir}/copyright ${packaging_dir}/changelog.gz
  DESTINATION ${VANTREL_DOC_DIR})

get_property(generated_data GLOBAL PROPERTY VANTREL_GENERATED_DATA)
add_custom_target(vantrel_installed_data ALL DEPENDS ${generated_data})

# The Debian package: `cpack -G DEB` in the build folder writes vantrel_VERSION_ARCH.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vantrel developers")
set(CPACK_PACKAGE_CONTACT "${VANTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DV camcorder video with the recording date of every frame")
set(CPACK_PACKAGE_DESCRIPTION [[
Vantrel is for video recorded by DV (MiniDV) camcorders. Beside the picture
of every frame, a camcorder records the date and time of the recording, the
time code and its camera settings: shutter, iris, exposure mode, white
balance and gain. While a movie plays, Vantrel shows them for the frame on
screen in an info panel beside the picture. It captures DV from camcorders
into AVI files split and named by the recording time, prints AVI files back
to tape and saves frames with the data burnt in.
.
Command-line tools print the data of every frame, capture and print to tape
without a window, and make test tapes.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(VANTREL_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VANTREL_HOMEPAGE}")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# GStreamer loads its elements as plugins, which dpkg-shlibdeps cannot see: playbin, appsink and
# videoconvert (base), dvdec, dv1394src and the audio sinks (good), the DV decoder and encoder
# (libav). The H.264 encoder of the export (ugly) is recommended; the silent audio sink for machines
# without sound (bad) suggested, the player falls back to a plain fake sink without it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav")
if(TARGET vantrel)   # the window draws its SVG icon through Qt's SVG plugin, also invisible to shlibdeps
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6svg6")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-ugly")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gstreamer1.0-plugins-bad")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
