# Decides whether the Python module `tembra` (python/) is built, and with
# which interpreter. It needs pybind11 and a Python 3 interpreter that has
# numpy and whose headers are installed; a missing piece leaves the module
# out with a status message, never an error.
#
# The interpreter: Python3_EXECUTABLE when given; otherwise the first
# `python3` on the PATH that imports numpy, then the system's /usr/bin/python3
# (a pyenv or virtualenv interpreter without numpy is passed over, since the
# module and its tests must run where numpy is). The tests run with the same
# interpreter.
#
# Sets TEMBRA_PYTHON_MODULE (ON when the module is built), and with it
# Python3_EXECUTABLE, TEMBRA_PYTHON_TESTS (pytest found) and
# TEMBRA_PYTHON_INSTALL_DIR (the module's install directory, relative to the
# prefix: the interpreter's platlib, lib/python3/dist-packages on Debian).

# A cross build (i386) cannot load into the host's interpreter, and a
# sanitized module loads only with the sanitizer runtime preloaded: those
# builds leave the module out unless it is asked for (sanitized: see
# python/CMakeLists.txt for how its tests then run).
set(TEMBRA_PYTHON_DEFAULT ${TEMBRA_MASTER_PROJECT})
if(TEMBRA_SANITIZE OR TEMBRA_FUZZ)
  set(TEMBRA_PYTHON_DEFAULT OFF)
endif()
option(TEMBRA_PYTHON "Build the Python module (needs pybind11 and Python 3 with numpy)" ${TEMBRA_PYTHON_DEFAULT})

set(TEMBRA_PYTHON_MODULE OFF)
set(TEMBRA_PYTHON_TESTS OFF)

function(tembra_python_left_out reason)
  message(STATUS "tembra: Python module left out: ${reason}")
endfunction()

# Runs code with an interpreter; sets <out> to its output, empty on failure.
function(tembra_python_query interpreter code out)
  execute_process(COMMAND "${interpreter}" -c "${code}" RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    set(output "")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# The first candidate interpreter that imports numpy and has its headers.
function(tembra_find_python_interpreter out)
  set(candidates "")
  if(Python3_EXECUTABLE)
    set(candidates "${Python3_EXECUTABLE}")
  else()
    string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
    foreach(dir ${path_dirs})
      if(dir AND EXISTS "${dir}/python3")
        list(APPEND candidates "${dir}/python3")
      endif()
    endforeach()
    list(APPEND candidates /usr/bin/python3)
  endif()
  set(check "import os, sysconfig, numpy; assert os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h')); print('ok')")
  foreach(candidate ${candidates})
    tembra_python_query("${candidate}" "${check}" answer)
    if(answer STREQUAL "ok")
      set(${out} "${candidate}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

if(NOT TEMBRA_PYTHON)
  if(TEMBRA_MASTER_PROJECT AND (TEMBRA_SANITIZE OR TEMBRA_FUZZ))
    message(STATUS "tembra: Python module off in sanitizer builds (-DTEMBRA_PYTHON=ON builds it, tested with the sanitizer runtime preloaded)")
  endif()
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  tembra_python_left_out("a cross build cannot load into the host's Python")
  return()
endif()
if(TEMBRA_FUZZ)
  tembra_python_left_out("not in fuzzing builds")
  return()
endif()

tembra_find_python_interpreter(TEMBRA_PYTHON_INTERPRETER)
if(NOT TEMBRA_PYTHON_INTERPRETER)
  tembra_python_left_out("no Python 3 interpreter with numpy and its headers (Debian: apt-get install python3-dev python3-numpy)")
  return()
endif()
set(Python3_EXECUTABLE "${TEMBRA_PYTHON_INTERPRETER}" CACHE FILEPATH "The Python interpreter of the Python module and its tests")
find_package(Python3 COMPONENTS Interpreter Development.Module QUIET)
if(NOT Python3_FOUND OR NOT Python3_Development.Module_FOUND)
  tembra_python_left_out("the headers of ${Python3_EXECUTABLE} were not found")
  return()
endif()
# A module is built for the interpreter's own architecture.
tembra_python_query("${Python3_EXECUTABLE}" "import struct; print(struct.calcsize('P'))" python_pointer_size)
if(NOT python_pointer_size STREQUAL "${CMAKE_SIZEOF_VOID_P}")
  tembra_python_left_out("${Python3_EXECUTABLE} is a ${python_pointer_size}-byte-pointer interpreter, this build makes ${CMAKE_SIZEOF_VOID_P}-byte pointers")
  return()
endif()
# After the interpreter: pybind11 then takes that one instead of searching
# on its own.
find_package(pybind11 CONFIG QUIET)
if(NOT pybind11_FOUND)
  tembra_python_left_out("pybind11 not found (Debian: apt-get install pybind11-dev)")
  return()
endif()

set(TEMBRA_PYTHON_MODULE ON)
message(STATUS "tembra: Python module for ${Python3_EXECUTABLE} (Python ${Python3_VERSION}, pybind11 ${pybind11_VERSION})")

tembra_python_query("${Python3_EXECUTABLE}" "import pytest; print('ok')" has_pytest)
if(has_pytest STREQUAL "ok")
  set(TEMBRA_PYTHON_TESTS ON)
else()
  message(STATUS "tembra: Python tests left out: ${Python3_EXECUTABLE} has no pytest (Debian: apt-get install python3-pytest)")
endif()

# Where the module goes under the prefix: the platlib of the interpreter's
# installation scheme for a prefix (Debian's deb_system where it exists,
# whose posix_local default would add local/).
if(NOT TEMBRA_PYTHON_INSTALL_DIR)
  tembra_python_query("${Python3_EXECUTABLE}"
    "import os, sysconfig; s = 'deb_system' if 'deb_system' in sysconfig.get_scheme_names() else 'posix_prefix'; print(os.path.relpath(sysconfig.get_path('platlib', s, vars={'base': '/p', 'platbase': '/p'}), '/p'))"
    platlib)
  if(NOT platlib)
    set(platlib "lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/site-packages")
  endif()
  set(TEMBRA_PYTHON_INSTALL_DIR "${platlib}" CACHE STRING "Install directory of the Python module, relative to the prefix")
endif()
