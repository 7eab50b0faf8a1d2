# z47_static_python_link(<options> <libraries> <reason>)
#
# How a program that embeds the pinned interpreter (Z47_PYTHON) links its static libpython:
# sets <options> (link options) and <libraries> (the archive and the system libraries after
# it), both empty where that route cannot be taken, and then <reason> says why in one line.
# The route is proven by linking a small embedding program with exactly that line.
function(z47_static_python_link options_var libraries_var reason_var)
  set(${options_var} "" PARENT_SCOPE)
  set(${libraries_var} "" PARENT_SCOPE)
  execute_process(
    COMMAND "${Z47_PYTHON}" -c "import sysconfig as s; v = s.get_config_var; print(v('LIBPL') + '/' + v('LIBRARY')); print(v('LINKFORSHARED')); print(' '.join([v('LIBS'), v('SYSLIBS'), v('MODLIBS')]))"
    OUTPUT_VARIABLE config OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" config "${config}")
  list(GET config 0 archive)
  list(GET config 1 options)
  list(GET config 2 system_libs)
  if(NOT EXISTS "${archive}")
    set(${reason_var} "${archive} is not installed" PARENT_SCOPE)
    return()
  endif()
  separate_arguments(options UNIX_COMMAND "${options}")
  separate_arguments(system_libs UNIX_COMMAND "${system_libs}")
  list(REMOVE_DUPLICATES system_libs)
  # sysconfig describes the interpreter's own build: a relative path there (3.13 names
  # Modules/_hacl/libHacl_Hash_SHA2.a) is a file of CPython's build tree, not of this machine.
  set(libraries "${archive}")
  set(build_tree_only "")
  foreach(lib IN LISTS system_libs)
    if(lib MATCHES "^-l" OR IS_ABSOLUTE "${lib}")
      list(APPEND libraries "${lib}")
    else()
      list(APPEND build_tree_only "${lib}")
    endif()
  endforeach()
  list(APPEND options -no-pie)

  set(probe_dir "${CMAKE_BINARY_DIR}/CMakeFiles/z47-python-link")
  file(WRITE "${probe_dir}/embed.cpp"
    "#include <Python.h>\nint main() { Py_Initialize(); return Py_FinalizeEx(); }\n")
  try_compile(links "${probe_dir}/build" SOURCES "${probe_dir}/embed.cpp"
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${Python_INCLUDE_DIRS}"
    LINK_OPTIONS ${options}
    LINK_LIBRARIES ${libraries}
    OUTPUT_VARIABLE output)
  if(links)
    set(${options_var} "${options}" PARENT_SCOPE)
    set(${libraries_var} "${libraries}" PARENT_SCOPE)
    set(${reason_var} "" PARENT_SCOPE)
    return()
  endif()
  # The linker's first complaint is the real reason.
  string(REGEX MATCH "(undefined reference to [^\n]*|cannot find [^\n]*|relocation [^\n]*)" first "${output}")
  if(NOT first)
    set(first "the link fails (see ${probe_dir})")
  endif()
  set(reason "${archive} does not link here: ${first}")
  if(build_tree_only)
    string(REPLACE ";" ", " build_tree_only "${build_tree_only}")
    string(APPEND reason " (it also needs ${build_tree_only} of CPython's build tree, which is not installed)")
  endif()
  set(${reason_var} "${reason}" PARENT_SCOPE)
endfunction()
