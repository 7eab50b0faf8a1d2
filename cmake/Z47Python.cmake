# The interpreter is pinned: an unpinned search finds the first python3 on PATH, which on
# these machines is not Debian's and has no PyQt5.
set(Z47_PYTHON "/usr/bin/python3" CACHE FILEPATH "Interpreter the module is built for")
set(Python_EXECUTABLE "${Z47_PYTHON}" CACHE FILEPATH "" FORCE)
set(Python_FIND_STRATEGY LOCATION)
set(Python_FIND_VIRTUALENV STANDARD)
find_package(Python REQUIRED COMPONENTS Interpreter Development.Module)
if(NOT Python_EXECUTABLE STREQUAL Z47_PYTHON)
  message(FATAL_ERROR "found ${Python_EXECUTABLE}, expected ${Z47_PYTHON}")
endif()
find_package(pybind11 CONFIG REQUIRED)
message(STATUS "Building for ${Python_EXECUTABLE} (${Python_VERSION}, ${Python_SOABI})")
