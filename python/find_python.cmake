# Finds the interpreter the Python module is built for, and pybind11.
#
# The module is built for an interpreter that can use it: numpy must import
# there. The first python3 on the PATH may lack it (a pyenv or virtual
# environment interpreter before the system's, where Debian's python3-numpy
# lives); the system's is then taken. -DPython3_EXECUTABLE=... chooses one.
if(NOT Python3_EXECUTABLE)
  find_program(_velmora_first_python NAMES python3 NO_CACHE)
  foreach(_candidate ${_velmora_first_python} /usr/bin/python3)
    if(EXISTS "${_candidate}")
      execute_process(COMMAND "${_candidate}" -c "import numpy"
                      RESULT_VARIABLE _velmora_no_numpy OUTPUT_QUIET ERROR_QUIET)
      if(_velmora_no_numpy EQUAL 0)
        set(Python3_EXECUTABLE "${_candidate}" CACHE FILEPATH "The interpreter the Python module is built for")
        break()
      endif()
    endif()
  endforeach()
endif()
find_package(Python3 COMPONENTS Interpreter Development.Module)
if(Python3_FOUND)
  # pybind11 takes the interpreter found above.
  find_package(pybind11 CONFIG QUIET)
endif()
