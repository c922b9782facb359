# What `cmake --install` puts where, and the packages CPack makes of it: a
# Debian package of the Linux tools (native build) and a zip of mksetup.exe
# and tambsetup-codec.exe (Windows builds). The setup program itself travels
# inside mksetup, so the tools are all a vendor installs; a CMake package
# (lib/cmake/TambSetup) lets a vendor's build make its setup.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(TAMB_CONTACT "TambSetup developers <tambsetup@example.org>")
install(TARGETS mksetup codec RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The documents keep the repository's layout (README.md beside docs/, the
# pictures in docs/screenshots), so the README's and script.md's links hold.
# A zip unpacks into one folder: the programs and their documents side by side.
if(WIN32)
    set(TAMB_DOC_DIR .)
else()
    set(TAMB_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tambsetup-tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TAMB_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/script.md ${PROJECT_SOURCE_DIR}/docs/signing.md
              ${PROJECT_SOURCE_DIR}/docs/cmake.md DESTINATION ${TAMB_DOC_DIR}/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots DESTINATION ${TAMB_DOC_DIR}/docs FILES_MATCHING PATTERN "*.png")
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${CMAKE_BINARY_DIR}/doc-gz/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${CMAKE_BINARY_DIR}/doc-gz/changelog @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/doc-gz/copyright DESTINATION ${TAMB_DOC_DIR})

if(NOT WIN32)
    # Man pages and the changelog compressed as Debian wants them: gzip -9,
    # without the file's name and time, so the package is reproducible.
    set(TAMB_GZIPPED "")
    foreach(page mksetup.1 tambsetup-codec.1 changelog)
        if(page STREQUAL changelog)
            set(from ${CMAKE_BINARY_DIR}/doc-gz/changelog)
        else()
            set(from ${PROJECT_SOURCE_DIR}/docs/${page})
        endif()
        add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc-gz/${page}.gz
            COMMAND gzip -9 -n -c ${from} > ${CMAKE_BINARY_DIR}/doc-gz/${page}.gz
            DEPENDS ${from})
        list(APPEND TAMB_GZIPPED ${CMAKE_BINARY_DIR}/doc-gz/${page}.gz)
    endforeach()
    add_custom_target(compressed_docs ALL DEPENDS ${TAMB_GZIPPED})
    install(FILES ${CMAKE_BINARY_DIR}/doc-gz/mksetup.1.gz ${CMAKE_BINARY_DIR}/doc-gz/tambsetup-codec.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${CMAKE_BINARY_DIR}/doc-gz/changelog.gz DESTINATION ${TAMB_DOC_DIR})
endif()

# The CMake package: found under the prefix (lib/cmake/TambSetup), on every
# system; the tools run on the build machine, so any target architecture
# may use it.
set(TAMBSETUP_MKSETUP ${CMAKE_INSTALL_BINDIR}/mksetup${CMAKE_EXECUTABLE_SUFFIX})
set(TAMB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TambSetup)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TambSetupConfig.cmake.in
    ${CMAKE_BINARY_DIR}/cmake-package/TambSetupConfig.cmake
    INSTALL_DESTINATION ${TAMB_CMAKE_DIR} PATH_VARS TAMBSETUP_MKSETUP)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake-package/TambSetupConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/cmake-package/TambSetupConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake-package/TambSetupConfigVersion.cmake DESTINATION ${TAMB_CMAKE_DIR})

# The package library's target is named "package", which include(CPack) (and
# a CPackConfig.cmake in the build folder) reserve: the configuration is
# written here under another name. Packages:
#   cpack --config BUILD/CPackTools.cmake      (a .deb, or a .zip in a Windows build)
set(CPACK_LINES "")
macro(cpack_set name)
    string(APPEND CPACK_LINES "set(${name} \"${ARGN}\")\n")
endmacro()
cpack_set(CPACK_PACKAGE_NAME tambsetup-tools)
cpack_set(CPACK_PACKAGE_VENDOR TambSetup)
cpack_set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds and examines TambSetup setup executables for Windows")
# Lines of at most 80 characters, as Debian's package descriptions want them.
cpack_set(CPACK_PACKAGE_DESCRIPTION "mksetup builds a compact Windows setup executable from a setup script
(the i686 setup program is built in) and lists, extracts and verifies one;
tambsetup-codec packs and unpacks single files. A CMake package builds
setups as part of a CMake build.")
cpack_set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
cpack_set(CPACK_PACKAGE_CONTACT "${TAMB_CONTACT}")
cpack_set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
cpack_set(CPACK_CMAKE_GENERATOR "${CMAKE_GENERATOR}")
cpack_set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")
if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(system win32)
    else()
        set(system win64)
    endif()
    cpack_set(CPACK_GENERATOR ZIP)
    cpack_set(CPACK_STRIP_FILES OFF)
    cpack_set(CPACK_PACKAGE_FILE_NAME tambsetup-tools-${PROJECT_VERSION}-${system})
    cpack_set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    cpack_set(CPACK_GENERATOR DEB)
    cpack_set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    cpack_set(CPACK_PACKAGE_FILE_NAME tambsetup-tools-${PROJECT_VERSION}-Linux)
    cpack_set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    cpack_set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    cpack_set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
    cpack_set(CPACK_STRIP_FILES ON)   # Debian ships stripped programs
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/CPackTools.cmake CONTENT "${CPACK_LINES}")
