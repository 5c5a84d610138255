# Packages made from the install rules with CPack (`cpack` in the build
# directory, or `make package` / `make package-windows`):
#
#   Linux    corvid-tape_<version>_<arch>.deb: tape, its manual page, the
#            demo programs, the libraries with their headers, CMake package
#            and pkg-config file, under /usr
#   Windows  corvid-tape-<version>-win32.zip: tape.exe with the demo beside
#            it, the demo programs and the manual as text

# Installing needs the interpreter and its libraries, not the whole build:
# a package is made without building (or breaking on) the test suite.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME corvid-tape)
set(CPACK_PACKAGE_VENDOR "Corvid tape maintainers")
set(CPACK_PACKAGE_CONTACT "Corvid tape maintainers <maintainers@users.noreply.c-seed-84b3e4f8.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interpreter for a tape language of eleven one-character commands")
set(CPACK_PACKAGE_DESCRIPTION
  "Corvid tape reads a code file, keeps only the eleven command characters\n"
  "and runs them against a tape of byte cells that grows on demand in both\n"
  "directions. Code files may also come through stream names: text\n"
  "encodings, memory banks, byte order, TCP and HTTP. The package also\n"
  "holds the runtime library it stands on, for C++ programs.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://c-seed-84b3e4f8.example/corvid-tape")
endif()

include(CPack)
