# packaging.cmake - install rules for the manual page, the shell
# completions and the package documents, and the Debian package made by
# `cpack -G DEB`. The binary's own install rule is in the top-level
# CMakeLists.txt.

include(GNUInstallDirs)

set(ZIBBET_PACKAGE_MAINTAINER "zibbet developers <zibbet@zibbet.invalid>"
    CACHE STRING "Maintainer of the Debian package: name <mail address>")

# The manual page takes its version from the project: the footer of the
# source page names the program, the built page (build/man/zibbet.1) its
# version too.
set(ZIBBET_PAGE_SOURCE ${PROJECT_SOURCE_DIR}/man/zibbet.1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZIBBET_PAGE_SOURCE})
file(READ ${ZIBBET_PAGE_SOURCE} zibbet_page)
string(REPLACE "\"zibbet\" \"User Commands\"" "\"zibbet ${PROJECT_VERSION}\" \"User Commands\""
       zibbet_versioned_page "${zibbet_page}")
if(zibbet_versioned_page STREQUAL zibbet_page)
  message(FATAL_ERROR "man/zibbet.1: no .TH line with \"zibbet\" \"User Commands\" to version")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/man/zibbet.1 "${zibbet_versioned_page}")
install(FILES ${PROJECT_BINARY_DIR}/man/zibbet.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Completions, each where its shell looks by itself. bash-completion and
# fish search share/ under /usr/local and /usr alike.
install(FILES ${PROJECT_SOURCE_DIR}/completion/zibbet.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME zibbet)
install(FILES ${PROJECT_SOURCE_DIR}/completion/zibbet.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
# zsh: Debian's zsh reads packages' functions from share/zsh/vendor-completions
# and the local administrator's from /usr/local/share/zsh/site-functions. The
# prefix is known only at install time (cpack installs to /usr), so the
# folder is chosen then; ZIBBET_ZSH_COMPLETION_DIR, relative to the prefix,
# overrides the choice.
set(ZIBBET_ZSH_COMPLETION_DIR "" CACHE STRING
    "Folder of the zsh completion, relative to the prefix (empty: chosen by prefix)")
install(CODE "
  set(zibbet_zsh_dir \"${ZIBBET_ZSH_COMPLETION_DIR}\")
  if(NOT zibbet_zsh_dir)
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(zibbet_zsh_dir \"${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions\")
    else()
      set(zibbet_zsh_dir \"${CMAKE_INSTALL_DATADIR}/zsh/site-functions\")
    endif()
  endif()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${zibbet_zsh_dir}\"
       TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       FILES \"${PROJECT_SOURCE_DIR}/completion/_zibbet\")
")

# The package's documents: the README, the copyright file Debian asks of
# every package, and a changelog entry for this version (dated by
# SOURCE_DATE_EPOCH when that is set, else by the time of configuring).
string(TIMESTAMP ZIBBET_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
               ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${CMAKE_BINARY_DIR}/packaging/changelog
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME zibbet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zibbet developers")
set(CPACK_PACKAGE_CONTACT "${ZIBBET_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watch chosen users log on and off")
set(CPACK_PACKAGE_DESCRIPTION
    "zibbet watches the users you choose (your buddies) log on and off.\n"
    "It reads the host's login records, or the sessions of systemd-logind\n"
    "on hosts that keep no records, once a second or at the interval you\n"
    "set, and prints a status line for every login and logout. For a\n"
    "new login it can greet the buddy on that terminal through write(1) and\n"
    "run a command. Status lines, greetings and commands are templates, and\n"
    "a buddy file can give each buddy settings of its own.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY zibbet)
set(CPACK_STRIP_FILES TRUE)
# Stripping keeps the compiler's .comment section; finish_package.cmake
# removes it with this objcopy.
set(CPACK_ZIBBET_OBJCOPY "${CMAKE_OBJCOPY}")

set(CPACK_DEBIAN_PACKAGE_NAME zibbet)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZIBBET_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libsystemd0 is loaded when zibbet reads logind sessions (a host without
# login records); bash-completion loads the bash completion. Without them
# zibbet still watches the login records. Greetings need no package:
# zibbet writes to the terminal itself where no write(1) is installed.
if(ZIBBET_HAVE_LOGIND)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsystemd0, bash-completion")
else()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
endif()

# The C library and the C++ runtime: dpkg-shlibdeps reads them off the
# binary (a sanitized build then also names its sanitizer runtimes); on a
# host without it, the usual three are named by hand.
find_program(ZIBBET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZIBBET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

# Debian ships manual pages and changelogs compressed; the staged files are
# finished just before the package is made, so `cmake --install` keeps them
# plain.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/finish_package.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/fuzz-work/")
include(CPack)
