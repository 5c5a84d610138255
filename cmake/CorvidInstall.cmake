# Installation: the interpreter, one static library per layer with its
# public headers, a CMake package (find_package(Corvid)), a pkg-config file,
# the manual page and the demo programs.
#
#   cmake --install build --prefix P
#
# P/bin                      tape, and nothing but executables
# P/lib                      libcorvid_<layer>.a, cmake/Corvid/, pkgconfig/corvid.pc
# P/include/corvid/<layer>/  the public headers
# P/share/man/man1/tape.1
# P/share/corvid/examples/   the demo programs

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

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

# Every header of a layer is public, and a new one is installed as soon as
# it exists, except the headers only the implementation includes: the
# operating-system calls beyond the C streams (platform_*.h and the halves
# in posix/ and win32/), the case tables behind String and the
# path-to-system glue of the file-system layer.
foreach(layer IN LISTS CORVID_LAYERS)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${layer}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvid
    FILES_MATCHING PATTERN "*.h"
    REGEX "/platform_[^/]*\\.h$" EXCLUDE
    REGEX "/(posix|win32)$" EXCLUDE
    REGEX "/case_map\\.h$" EXCLUDE
    REGEX "/system_path\\.h$" EXCLUDE)
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
")
install(FILES ${PROJECT_BINARY_DIR}/install/corvid.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_BINARY_DIR}/install/tape.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The demo programs with their expected output and input. An installed tape
# finds relative names beside itself, in bin/, where only executables go:
# run a demo by its full path.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CORVID_EXAMPLES_DIR})
