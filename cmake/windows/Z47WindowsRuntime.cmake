# The Python 3.12 runtime for Windows x64, as the cross build sees it (docs/windows-sdk.md):
#
#   z47_py312_headers   the runtime's C headers with the project's own Windows pyconfig.h
#                       beside Python.h (Python.h includes it with quotes, so the copy is the
#                       reliable way), or empty when the Windows parts are missing;
#   z47::python312      headers, import library of python312.dll and the UCRT: what an
#                       extension module for the runtime builds and links with.
#
# The official runtime is built with MSVC against the Universal C Runtime.  mingw-w64 links
# msvcrt by default, and errno, the environment and FILE* do not cross between the two, so the
# module is linked against the UCRT instead (g++ 12 has no -mcrtdll: a specs file swaps the
# library).
set(z47_py312_headers "")
set(sdk_runtime "${Z47_WINDOWS_SDK}/python-3.12.4-embed-amd64")
set(sdk_include "${Z47_WINDOWS_SDK}/cpython-3.12.1-include")
if(NOT Z47_WINDOWS_SDK OR NOT EXISTS "${sdk_include}/Python.h" OR NOT EXISTS "${sdk_runtime}/python312.dll")
  return()
endif()

# --- headers: a copy of the runtime's tree with our pyconfig.h --------------------------------
set(z47_py312_headers "${CMAKE_BINARY_DIR}/py312-include")
file(REMOVE_RECURSE "${z47_py312_headers}")
# The copies get ordinary modes: the Windows parts may be read-only, and the build must still
# be able to add to its copy and, at the next configuration, remove it.
file(COPY "${sdk_include}/" DESTINATION "${z47_py312_headers}" NO_SOURCE_PERMISSIONS)
file(COPY "${CMAKE_CURRENT_LIST_DIR}/pyconfig.h" DESTINATION "${z47_py312_headers}" NO_SOURCE_PERMISSIONS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/pyconfig.h")

# Only pybind11: the folder that holds it on the build machine (/usr/include) also holds the
# build machine's own C library headers, which must not meet mingw's.
set(pybind11_only "${CMAKE_BINARY_DIR}/pybind11-include")
file(REMOVE_RECURSE "${pybind11_only}")
file(COPY "${Z47_PYBIND11_INCLUDE}/pybind11" DESTINATION "${pybind11_only}" NO_SOURCE_PERMISSIONS)

# --- import library of python312.dll, made from the DLL's own export table --------------------
find_program(GENDEF gendef REQUIRED)
find_program(DLLTOOL ${Z47_MINGW_DLLTOOL} REQUIRED)
set(import_dir "${CMAKE_BINARY_DIR}/py312-import")
set(import_def "${import_dir}/python312.def")
set(import_lib "${import_dir}/libpython312.a")
file(MAKE_DIRECTORY "${import_dir}")  # the commands below run in it
add_custom_command(OUTPUT "${import_lib}"
  COMMAND ${GENDEF} "${sdk_runtime}/python312.dll"
  COMMAND ${DLLTOOL} -m i386:x86-64 -d python312.def -D python312.dll -l "${import_lib}"
  WORKING_DIRECTORY "${import_dir}"
  DEPENDS "${sdk_runtime}/python312.dll" VERBATIM)
add_custom_target(python312_import_library DEPENDS "${import_lib}")

# --- the Universal C Runtime ------------------------------------------------------------------
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpspecs OUTPUT_VARIABLE specs COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "-lmsvcrt" "-lucrt" specs "${specs}")
set(ucrt_specs "${CMAKE_BINARY_DIR}/ucrt.specs")
file(WRITE "${ucrt_specs}" "${specs}")

add_library(z47_python312 INTERFACE)
add_dependencies(z47_python312 python312_import_library)
target_include_directories(z47_python312 SYSTEM INTERFACE "${z47_py312_headers}" "${pybind11_only}")
target_compile_definitions(z47_python312 INTERFACE _UCRT __MSVCRT_VERSION__=0x0E00)
target_compile_options(z47_python312 INTERFACE "-specs=${ucrt_specs}")
target_link_options(z47_python312 INTERFACE "-specs=${ucrt_specs}")
target_link_libraries(z47_python312 INTERFACE "${import_lib}")
add_library(z47::python312 ALIAS z47_python312)
