# Install-time step: refreshes the dynamic loader's cache after the shared
# library was installed, so that programs linked against it find
# libquendra.so.0 without LD_LIBRARY_PATH. It runs only when all hold:
#  - the install is not staged (DESTDIR empty: a package's own scripts run
#    ldconfig on the target machine);
#  - the process runs as root on Linux, where ldconfig can write the cache;
#  - the library directory is one that the loader searches (ldconfig lists
#    it), such as /usr/local/lib. For any other prefix the README tells how to
#    make the loader find the library.
# QUENDRA_INSTALL_LIBDIR is the library directory, relative to the prefix or
# absolute.

if(NOT "$ENV{DESTDIR}" STREQUAL "" OR NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE _quendra_uid OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
if(NOT _quendra_uid STREQUAL "0")
  return()
endif()
set(_quendra_ldconfig "")
foreach(_quendra_candidate /sbin/ldconfig /usr/sbin/ldconfig)
  if(NOT _quendra_ldconfig AND EXISTS "${_quendra_candidate}")
    set(_quendra_ldconfig "${_quendra_candidate}")
  endif()
endforeach()
if(NOT _quendra_ldconfig)
  return()
endif()

if(IS_ABSOLUTE "${QUENDRA_INSTALL_LIBDIR}")
  set(_quendra_libdir "${QUENDRA_INSTALL_LIBDIR}")
else()
  set(_quendra_libdir "${CMAKE_INSTALL_PREFIX}/${QUENDRA_INSTALL_LIBDIR}")
endif()
file(REAL_PATH "${_quendra_libdir}" _quendra_libdir)

# `ldconfig -v -N -X` prints each directory it scans ("/usr/local/lib: (from
# ...)") without changing the cache or any link.
execute_process(COMMAND ${_quendra_ldconfig} -v -N -X OUTPUT_VARIABLE _quendra_scan
  ERROR_QUIET RESULT_VARIABLE _quendra_status)
if(NOT _quendra_status EQUAL 0)
  return()
endif()
string(REPLACE "\n" ";" _quendra_lines "${_quendra_scan}")
foreach(_quendra_line IN LISTS _quendra_lines)
  if(_quendra_line MATCHES "^(/[^:\t]*):")
    file(REAL_PATH "${CMAKE_MATCH_1}" _quendra_searched)
    if(_quendra_searched STREQUAL _quendra_libdir)
      message(STATUS "Updating the loader's cache: ldconfig")
      execute_process(COMMAND ${_quendra_ldconfig} RESULT_VARIABLE _quendra_status)
      if(NOT _quendra_status EQUAL 0)
        message(WARNING "ldconfig failed; run it by hand so that the loader finds libquendra.so.0")
      endif()
      return()
    endif()
  endif()
endforeach()
