# The Debian package of the Linux centre (make deb: CPack's DEB generator, `cmake --build build
# --target package`, writes build/z47-kurulum-merkezi_<version>_<arch>.deb):
#
#   /opt/z47-kurulum-merkezi/       the module and the six tool folders, as in the stage folder:
#                                   the module finds its tools beside itself
#   /usr/bin/z47-kurulum-merkezi    the start command: Debian's python3 imports the module from
#                                   there and calls main
#   /usr/share/applications/z47-kurulum-merkezi.desktop, the icon in the hicolor theme (PNGs
#   rendered from launcher/resources/z47_centre.svg, and the SVG), the man page, copyright,
#   changelog and lintian's overrides.
#
# The package holds only the install component "centre"; the files it needs besides the stage
# are made in ${CMAKE_BINARY_DIR}/debian by the target debian_files (part of the build).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(Z47_DEB_NAME z47-kurulum-merkezi)
set(Z47_DEB_APP_DIR "/opt/${Z47_DEB_NAME}")
set(Z47_DEB_MAINTAINER "Z47 Yazılım Ekibi <z47@example.org>")
set(deb_src "${CMAKE_CURRENT_LIST_DIR}/debian")
set(deb_out "${CMAKE_BINARY_DIR}/debian")
set(deb_doc "usr/share/doc/${Z47_DEB_NAME}")
set(deb_icon_sizes 16 22 24 32 48 64 128 256)
set(centre_svg "${CMAKE_SOURCE_DIR}/launcher/resources/z47_centre.svg")

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GZIP gzip REQUIRED)

# The package's version is the project's; its changelog must say what this version brings.
file(STRINGS "${deb_src}/changelog" changelog_top LIMIT_COUNT 1 ENCODING UTF-8)
if(NOT changelog_top MATCHES "^${Z47_DEB_NAME} \\(([^)]+)\\) ")
  message(FATAL_ERROR "${deb_src}/changelog: the first line is not a '${Z47_DEB_NAME} (<version>) ...' entry")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CMAKE_PROJECT_VERSION)
  message(FATAL_ERROR "${deb_src}/changelog: the newest entry is ${CMAKE_MATCH_1}, the project is "
    "${CMAKE_PROJECT_VERSION}: add an entry for ${CMAKE_PROJECT_VERSION} at the top")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${deb_src}/changelog")

# ---- files made for the package -------------------------------------------------------------

configure_file("${deb_src}/${Z47_DEB_NAME}.in" "${deb_out}/${Z47_DEB_NAME}" @ONLY NEWLINE_STYLE UNIX)
configure_file("${deb_src}/${Z47_DEB_NAME}.1.in" "${deb_out}/${Z47_DEB_NAME}.1" @ONLY NEWLINE_STYLE UNIX)

# gzip -n: no name or time in the header, so the same input gives the same package.
set(deb_outputs)
foreach(pair "${deb_out}/${Z47_DEB_NAME}.1|${Z47_DEB_NAME}.1" "${deb_src}/changelog|changelog")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 input)
  list(GET pair 1 name)
  add_custom_command(OUTPUT "${deb_out}/${name}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${input}" "${deb_out}/gz/${name}"
    COMMAND ${GZIP} -9nf "${deb_out}/gz/${name}"
    COMMAND ${CMAKE_COMMAND} -E rename "${deb_out}/gz/${name}.gz" "${deb_out}/${name}.gz"
    DEPENDS "${input}" VERBATIM)
  list(APPEND deb_outputs "${deb_out}/${name}.gz")
endforeach()

foreach(size IN LISTS deb_icon_sizes)
  set(png "${deb_out}/icons/${size}x${size}/${Z47_DEB_NAME}.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${deb_out}/icons/${size}x${size}"
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o "${png}" "${centre_svg}"
    DEPENDS "${centre_svg}" VERBATIM)
  list(APPEND deb_outputs "${png}")
endforeach()
add_custom_target(debian_files ALL DEPENDS ${deb_outputs})

# ---- what the package installs --------------------------------------------------------------

# Directories the install makes get these whatever the umask of the person building.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(app_dir "opt/${Z47_DEB_NAME}")

install(TARGETS Z47_Kurulum_Merkezi
  LIBRARY DESTINATION "${app_dir}" COMPONENT centre
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The tool folders as the build lays them out in the stage; their scripts start with #! and are
# executable, the centre runs them with bash and python3.
get_directory_property(sample_tools DIRECTORY "${CMAKE_SOURCE_DIR}/sample_tools" DEFINITION Z47_SAMPLE_TOOLS)
if(NOT sample_tools)
  message(FATAL_ERROR "sample_tools/ names no tools (Z47_SAMPLE_TOOLS) for the Debian package")
endif()
foreach(tool IN LISTS sample_tools)
  install(DIRECTORY "${Z47_STAGE_DIR}/${tool}" DESTINATION "${app_dir}" COMPONENT centre
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    PATTERN "__pycache__" EXCLUDE
    PATTERN "*.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                               WORLD_READ WORLD_EXECUTE
    PATTERN "*.py" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                               WORLD_READ WORLD_EXECUTE)
endforeach()

install(PROGRAMS "${deb_out}/${Z47_DEB_NAME}" DESTINATION usr/bin COMPONENT centre)
install(FILES "${deb_src}/${Z47_DEB_NAME}.desktop" DESTINATION usr/share/applications COMPONENT centre)
foreach(size IN LISTS deb_icon_sizes)
  install(FILES "${deb_out}/icons/${size}x${size}/${Z47_DEB_NAME}.png"
    DESTINATION "usr/share/icons/hicolor/${size}x${size}/apps" COMPONENT centre)
endforeach()
install(FILES "${centre_svg}" RENAME "${Z47_DEB_NAME}.svg"
  DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT centre)
install(FILES "${deb_out}/${Z47_DEB_NAME}.1.gz" DESTINATION usr/share/man/man1 COMPONENT centre)
# The version has no Debian revision (the packaging lives with the sources), so Debian's
# changelog of the package is changelog.gz, not changelog.Debian.gz.
install(FILES "${deb_src}/copyright" "${deb_out}/changelog.gz" DESTINATION "${deb_doc}" COMPONENT centre)
install(FILES "${deb_src}/lintian-overrides" RENAME "${Z47_DEB_NAME}"
  DESTINATION usr/share/lintian/overrides COMPONENT centre)

# ---- the package ----------------------------------------------------------------------------

# The module is built for one Python's ABI (its file name says cpython-3XY): the package wants
# Debian's python3 of that minor version, its pre-releases included, the next one's not.
math(EXPR next_minor "${Python_VERSION_MINOR} + 1")
set(python_depends "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${next_minor}~)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME "${Z47_DEB_NAME}")
set(CPACK_PACKAGE_VERSION "${CMAKE_PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${Z47_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installation and management centre for the Z47 desktop tools")
# Lines of at most 80 characters, as Debian's tools show them; an empty line parts paragraphs.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Z47 Kurulum Merkezi is one window with a card for each of the six Z47"
  "desktop tools. It installs a tool with the tool's own kur.sh, starts it,"
  "and removes it again with its kaldir.sh, or installs every tool in one go."
  "Scripts run in the background and report to the window."
  ""
  "The tools' scripts are shipped with the centre in ${Z47_DEB_APP_DIR}.")
# Only the package's files, laid out from the file system's root.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${CMAKE_PROJECT_NAME};centre;/")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${Z47_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# bash is essential, so it is named with a version: every supported Debian release has 5.x.
# qttranslations5-l10n: Qt's own Turkish texts for the message boxes' buttons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${python_depends}, python3-pyqt5, qttranslations5-l10n, bash (>= 5.0)")
# The shared libraries the module links, from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The fonts the window is designed with; Qt falls back to others without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-roboto, fonts-noto-color-emoji")
include(CPack)
