# The Windows side: the launcher, the module and the package folder with its zip.
#
# All of it is cross-built with mingw-w64's win32 compiler (cmake/mingw-w64-x86_64.cmake).
# Where that is not installed (make run installs only what the Linux centre needs), none of
# it is built, and the build says so in one line, written to windows-parts.txt as well.
#
# The launcher needs only mingw-w64.  The module and the package need the Windows parts that
# the project does not build (the Python 3.12 runtime, its C headers, PyQt5 for Windows): a
# folder laid out by scripts/fetch_windows_sdk.py (docs/windows-sdk.md), named by the CMake
# variable or the environment variable Z47_WINDOWS_SDK.  Without it the launcher is still
# built, and the build says in one line what is missing; the Windows tests then skip with that
# line (they read it from windows-parts.txt in the build folder).
set(windows_parts_file "${CMAKE_BINARY_DIR}/windows-parts.txt")
set(windows_compiler x86_64-w64-mingw32-g++-win32)
find_program(windows_compiler_path ${windows_compiler} NO_CACHE)
if(NOT windows_compiler_path)
  set(windows_parts_line "Windows toolchain missing (no ${windows_compiler}): the Windows launcher, module and package are not built; make test or make windows installs it")
  message(STATUS "${windows_parts_line}")
  file(WRITE "${windows_parts_file}" "missing\n${windows_parts_line}\n")
  return()
endif()

if(DEFINED ENV{Z47_WINDOWS_SDK})
  set(Z47_WINDOWS_SDK "$ENV{Z47_WINDOWS_SDK}" CACHE PATH "Folder of the Windows parts" FORCE)
else()
  set(Z47_WINDOWS_SDK "" CACHE PATH "Folder of the Windows parts")
endif()

set(windows_parts_missing "")
if(NOT Z47_WINDOWS_SDK)
  set(windows_parts_missing "Z47_WINDOWS_SDK is not set")
else()
  foreach(part python-3.12.4-embed-amd64/python312.dll cpython-3.12.1-include/Python.h
               pyqt5-5.15.11-win_amd64/PyQt5/QtWidgets.pyd)
    if(NOT windows_parts_missing AND NOT EXISTS "${Z47_WINDOWS_SDK}/${part}")
      set(windows_parts_missing "${Z47_WINDOWS_SDK} has no ${part}")
    endif()
  endforeach()
endif()
if(windows_parts_missing)
  set(windows_parts_line "Windows parts missing (${windows_parts_missing}): the Windows module and package are not built; see docs/windows-sdk.md")
  message(STATUS "${windows_parts_line}")
  file(WRITE "${windows_parts_file}" "missing\n${windows_parts_line}\n")
  set(sdk_for_build "")
else()
  message(STATUS "Windows parts: ${Z47_WINDOWS_SDK}")
  file(WRITE "${windows_parts_file}" "found\n${Z47_WINDOWS_SDK}\n")
  set(sdk_for_build "${Z47_WINDOWS_SDK}")
endif()

include(ExternalProject)
ExternalProject_Add(windows
  SOURCE_DIR "${PROJECT_SOURCE_DIR}/cmake/windows"
  BINARY_DIR "${CMAKE_BINARY_DIR}/windows"
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake"
    -DCMAKE_BUILD_TYPE=Release
    "-DZ47_VERSION=${PROJECT_VERSION}"
    "-DZ47_WINDOWS_SDK=${sdk_for_build}"
    "-DZ47_PYBIND11_INCLUDE=${pybind11_INCLUDE_DIR}"
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

# The package as users get it, in the build folder (make windows copies it to dist/windows).
if(NOT windows_parts_missing)
  add_custom_target(windows_package ALL
    COMMAND "${Z47_PYTHON}" "${PROJECT_SOURCE_DIR}/scripts/make_windows_package.py"
            --sdk "${Z47_WINDOWS_SDK}" --build "${CMAKE_BINARY_DIR}"
            --version "${PROJECT_VERSION}" --dest "${CMAKE_BINARY_DIR}/dist/windows"
    DEPENDS windows sample_tools
    USES_TERMINAL VERBATIM)
endif()

# The setup program beside the package (scripts/windows_setup.nsi), made with makensis
# (Debian's nsis).  The file list is written from the package folder at each build, but only
# rewritten when a file was added, removed or changed: the setup is compiled again only then.
find_program(MAKENSIS makensis)
if(NOT windows_parts_missing AND NOT MAKENSIS)
  message(STATUS "makensis missing: the Windows setup program is not built; make test or make windows installs nsis")
elseif(NOT windows_parts_missing)
  set(setup_work "${CMAKE_BINARY_DIR}/windows-setup")
  set(setup_files "${setup_work}/setup_files.nsh")
  set(setup_icon "${CMAKE_BINARY_DIR}/windows/launcher/icon/z47_centre.ico")
  set(setup_exe "${CMAKE_BINARY_DIR}/dist/windows/Z47_Masaustu_Araclari_Tam_Paketi-${PROJECT_VERSION}-setup.exe")
  set(setup_command "${Z47_PYTHON}" "${PROJECT_SOURCE_DIR}/scripts/make_windows_setup.py"
      --package "${CMAKE_BINARY_DIR}/dist/windows/Z47_Masaustu_Araclari_Tam_Paketi"
      --version "${PROJECT_VERSION}" --icon "${setup_icon}" --work "${setup_work}" --makensis "${MAKENSIS}")
  add_custom_target(windows_setup_files
    COMMAND ${setup_command}
    BYPRODUCTS "${setup_files}"
    VERBATIM)
  add_dependencies(windows_setup_files windows_package)
  add_custom_command(OUTPUT "${setup_exe}"
    COMMAND ${setup_command} --dest "${CMAKE_BINARY_DIR}/dist/windows"
    DEPENDS "${setup_files}" "${setup_icon}" "${PROJECT_SOURCE_DIR}/scripts/windows_setup.nsi"
            "${PROJECT_SOURCE_DIR}/scripts/make_windows_setup.py"
    COMMENT "Compiling the Windows setup program"
    USES_TERMINAL VERBATIM)
  add_custom_target(windows_setup ALL DEPENDS "${setup_exe}")
  add_dependencies(windows_setup windows_setup_files)
endif()
