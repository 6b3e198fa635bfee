# Installs the build into a fresh prefix and checks the layout a user and a
# package get: the program (which runs from there), the library and its
# header, the manual page and the bash completion.
# Run as: cmake -DBUILD=<build dir> -DPREFIX=<scratch prefix> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/varntessel include/varn_tessel.h share/man/man1/varntessel.1
          share/bash-completion/completions/varntessel)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB lib ${PREFIX}/lib*/libvarn_tessel_core.so)
if(NOT lib)
  message(FATAL_ERROR "not installed: libvarn_tessel_core.so")
endif()
execute_process(COMMAND ${PREFIX}/bin/varntessel --version
  RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^varntessel [0-9]+\\.[0-9]+\\.[0-9]+\n$")
  message(FATAL_ERROR "installed varntessel --version gave ${rc}: ${out}")
endif()
file(REMOVE_RECURSE ${PREFIX})
