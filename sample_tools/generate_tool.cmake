# Writes one sample tool's app.py, kur.sh and kaldir.sh from the templates and its line in
# tools.txt:  cmake -DTOOL=<folder> -DOUT=<its folder in the stage> -P generate_tool.cmake
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/tools.cmake")
z47_read_sample_tools()
if(NOT TOOL IN_LIST Z47_SAMPLE_TOOLS)
  message(FATAL_ERROR "${TOOL} is not in ${Z47_SAMPLE_TOOL_TABLE}")
endif()
set(TOOL_ID "${TOOL}")
set(TITLE "${Z47_SAMPLE_TOOL_TITLE_${TOOL}}")
foreach(file app.py kur.sh kaldir.sh)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/templates/${file}.in" "${OUT}/${file}" @ONLY
    NEWLINE_STYLE UNIX
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)
  # configure_file leaves an unchanged file's time alone; the build wants it newer than the
  # templates it came from.
  file(TOUCH "${OUT}/${file}")
endforeach()
