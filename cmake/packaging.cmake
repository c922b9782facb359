# What `cmake --install` puts where, and the packages CPack makes of it: a
# Debian package of the Linux tools (native build) and a zip of mksetup.exe
# and codec.exe (Windows builds). The setup program itself travels inside
# mksetup, so the tools are all a vendor installs.
include(GNUInstallDirs)
install(TARGETS mksetup codec RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
    # A zip unpacks into one folder: the programs and their documents side by side.
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/script.md
                  ${PROJECT_SOURCE_DIR}/docs/signing.md DESTINATION doc)
else()
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/script.md
                  ${PROJECT_SOURCE_DIR}/docs/signing.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tambsetup-tools)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/mksetup.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

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
cpack_set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds and inspects TambSetup setup executables for Windows")
cpack_set(CPACK_PACKAGE_DESCRIPTION "mksetup builds a compact Windows setup executable from a setup script (the i686 setup program is built in) and lists, extracts and verifies one; codec packs and unpacks single files.")
cpack_set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
cpack_set(CPACK_PACKAGE_CONTACT "TambSetup developers <tambsetup@localhost>")
cpack_set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
cpack_set(CPACK_CMAKE_GENERATOR "${CMAKE_GENERATOR}")
cpack_set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")
cpack_set(CPACK_STRIP_FILES OFF)
if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(system win32)
    else()
        set(system win64)
    endif()
    cpack_set(CPACK_GENERATOR ZIP)
    cpack_set(CPACK_PACKAGE_FILE_NAME tambsetup-tools-${PROJECT_VERSION}-${system})
    cpack_set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    cpack_set(CPACK_GENERATOR DEB)
    cpack_set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    cpack_set(CPACK_PACKAGE_FILE_NAME tambsetup-tools-${PROJECT_VERSION}-Linux)
    cpack_set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    cpack_set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    cpack_set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/CPackTools.cmake CONTENT "${CPACK_LINES}")
