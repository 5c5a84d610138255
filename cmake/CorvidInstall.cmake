# Installation: the interpreter, one static library per layer with its
# public headers, a CMake package (find_package(Corvid)), a pkg-config file,
# the manual page and the demo programs.
#
#   cmake --install build --prefix P
#
# P/bin                      tape, and nothing but executables
# P/lib                      libcorvid_<layer>.a, cmake/Corvid/, pkgconfig/corvid.pc
# P/include/corvid/<layer>/  the public headers
# P/share/man/man1/tape.1.gz
# P/share/corvid/examples/   the demo programs
# P/share/doc/corvid-tape/   copyright and changelog

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# On Windows the installed tree is what a user unpacks and runs: tape.exe
# with the demo beside it (a run without arguments finds code.txt there),
# the demo programs and the manual as plain text. The libraries are for the
# Linux install, where C++ programs are built against them.
if(WIN32)
  install(TARGETS tape RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/code.txt DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples)
  string(TIMESTAMP CORVID_MAN_DATE "%Y-%m-%d" UTC)
  set(CORVID_VERSION ${PROJECT_VERSION})
  set(CORVID_EXAMPLES examples)
  configure_file(${PROJECT_SOURCE_DIR}/docs/tape.1.in ${PROJECT_BINARY_DIR}/install/tape.1 @ONLY)
  # The manual page set as text with the host's groff, CR LF line ends for
  # Windows' editors.
  find_program(CORVID_GROFF groff)
  if(CORVID_GROFF)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/install/tape.txt
      COMMAND ${CMAKE_COMMAND} -DGROFF=${CORVID_GROFF} -DIN=${PROJECT_BINARY_DIR}/install/tape.1
              -DOUT=${PROJECT_BINARY_DIR}/install/tape.txt -P ${PROJECT_SOURCE_DIR}/cmake/ManualText.cmake
      DEPENDS ${PROJECT_BINARY_DIR}/install/tape.1 ${PROJECT_SOURCE_DIR}/cmake/ManualText.cmake)
    add_custom_target(manual_text ALL DEPENDS ${PROJECT_BINARY_DIR}/install/tape.txt)
    install(FILES ${PROJECT_BINARY_DIR}/install/tape.txt DESTINATION .)
  endif()
  return()
endif()

set(CORVID_LAYERS runtime stream memstream filesystem net interpreter)
set(CORVID_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvid)
set(CORVID_EXAMPLES_DIR ${CMAKE_INSTALL_DATADIR}/corvid/examples)

# Consumers include either "stream/url.h", as the library itself does, or
# <corvid/stream/url.h>; both resolve in the installed tree. Inside this
# build the installed names are aliases of the layer targets.
foreach(layer IN LISTS CORVID_LAYERS)
  set_target_properties(corvid_${layer} PROPERTIES EXPORT_NAME ${layer})
  target_include_directories(corvid_${layer} INTERFACE
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/corvid>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  add_library(Corvid::${layer} ALIAS corvid_${layer})
endforeach()

add_library(corvid INTERFACE)
set_target_properties(corvid PROPERTIES EXPORT_NAME Corvid)
foreach(layer IN LISTS CORVID_LAYERS)
  target_link_libraries(corvid INTERFACE corvid_${layer})
endforeach()
add_library(Corvid::Corvid ALIAS corvid)

set_target_properties(tape PROPERTIES EXPORT_NAME tape)
add_executable(Corvid::tape ALIAS tape)

list(TRANSFORM CORVID_LAYERS PREPEND corvid_ OUTPUT_VARIABLE corvid_layer_targets)
install(TARGETS ${corvid_layer_targets} corvid tape
  EXPORT CorvidTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The headers a C++ program builds on, and only those: every header of a
# layer is public, and a new one is installed as soon as it exists, except
# those under internal/ (the interpreter's loader, translator and executor,
# the platform layer, the fault report, the case tables, the path-to-system
# glue) and the platform layer's halves in posix/ and win32/.
foreach(layer IN LISTS CORVID_LAYERS)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${layer}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvid
    FILES_MATCHING PATTERN "*.h"
    REGEX "/(internal|posix|win32)$" EXCLUDE)
endforeach()

install(EXPORT CorvidTargets NAMESPACE Corvid:: DESTINATION ${CORVID_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/CorvidConfig.cmake.in
  ${PROJECT_BINARY_DIR}/CorvidConfig.cmake
  INSTALL_DESTINATION ${CORVID_CMAKE_DIR}
  PATH_VARS CORVID_EXAMPLES_DIR)
# Before 1.0 a new minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CorvidConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CorvidConfig.cmake
  ${PROJECT_BINARY_DIR}/CorvidConfigVersion.cmake
  DESTINATION ${CORVID_CMAKE_DIR})

# The pkg-config file and the manual page name installed paths, and
# `cmake --install --prefix` chooses the prefix only at install time, so
# both are written then.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(corvid_pc_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(corvid_pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
string(TIMESTAMP CORVID_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP CORVID_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
install(CODE "
  get_filename_component(CORVID_PREFIX \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  set(CORVID_PC_LIBDIR [[${corvid_pc_LIBDIR}]])
  set(CORVID_PC_INCLUDEDIR [[${corvid_pc_INCLUDEDIR}]])
  set(CORVID_VERSION \"${PROJECT_VERSION}\")
  set(CORVID_MAN_DATE \"${CORVID_MAN_DATE}\")
  set(CORVID_EXAMPLES \"${CORVID_EXAMPLES_DIR}\")
  if(NOT IS_ABSOLUTE \"\${CORVID_EXAMPLES}\")
    set(CORVID_EXAMPLES \"\${CORVID_PREFIX}/\${CORVID_EXAMPLES}\")
  endif()
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/corvid.pc.in\"
                 \"${PROJECT_BINARY_DIR}/install/corvid.pc\" @ONLY)
  configure_file(\"${PROJECT_SOURCE_DIR}/docs/tape.1.in\"
                 \"${PROJECT_BINARY_DIR}/install/tape.1\" @ONLY)
  set(CORVID_CHANGELOG_DATE \"${CORVID_CHANGELOG_DATE}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in\"
                 \"${PROJECT_BINARY_DIR}/install/changelog\" @ONLY)
  # Compressed as the system's manual pages and documents are, without a
  # time stamp of their own, so the same sources give the same bytes.
  foreach(doc tape.1 changelog)
    execute_process(COMMAND gzip -9nc \"${PROJECT_BINARY_DIR}/install/\${doc}\"
                    OUTPUT_FILE \"${PROJECT_BINARY_DIR}/install/\${doc}.gz\")
  endforeach()
")
install(FILES ${PROJECT_BINARY_DIR}/install/corvid.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_BINARY_DIR}/install/tape.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright ${PROJECT_BINARY_DIR}/install/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvid-tape)

# The demo programs with their expected output and input. An installed tape
# finds relative names beside itself, in bin/, where only executables go:
# run a demo by its full path.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CORVID_EXAMPLES_DIR})
