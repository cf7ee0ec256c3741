# packaging.cmake - install rules for the manual page and the bash
# completion, and the Debian package made by `cpack -G DEB`. The binary's
# own install rule is in the top-level CMakeLists.txt.

include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/man/zibbet.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/completion/zibbet.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME zibbet)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME zibbet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zibbet developers")
set(CPACK_PACKAGE_CONTACT "zibbet developers <zibbet@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watch chosen users log on and off")
set(CPACK_PACKAGE_DESCRIPTION
    "zibbet watches the users you choose (your buddies) log on and off.\n"
    "It reads the host's login records every few seconds and prints a\n"
    "status line for every login and logout. For a new login it can greet\n"
    "the buddy on that terminal through write(1) and run a command. Status\n"
    "lines, greetings and commands are templates, and a buddy file can give\n"
    "each buddy settings of its own.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY zibbet)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_PACKAGE_NAME zibbet)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "zibbet developers <zibbet@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# write(1) is what greets a buddy; without it zibbet still watches.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bsdextrautils)

# The C library and the C++ runtime: dpkg-shlibdeps reads them off the
# binary (a sanitized build then also names its sanitizer runtimes); on a
# host without it, the usual three are named by hand.
find_program(ZIBBET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZIBBET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

# Debian ships manual pages compressed; the staged page is compressed just
# before the package is made, so `cmake --install` keeps it plain.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_man.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/fuzz-work/")
include(CPack)
