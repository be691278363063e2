# The Debian package pelfry_VERSION_amd64.deb, made by `cpack -G DEB` in a Release build
# (tools/package.sh): everything `cmake --install` installs, under /usr. dpkg's triggers of
# shared-mime-info and desktop-file-utils rebuild the MIME and desktop databases when it is
# installed or removed, so the package ships no scripts of its own.
include(GNUInstallDirs)

# The notices a Debian package carries: the licence of the program and of what is compiled
# into it, and the program's history.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelfry)
# -n: no name or time in the header, so that the same text compresses to the same bytes.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelfry)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelfry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(PELFRY_MAINTAINER "Pelfry developers <pelfry@example.org>"
    CACHE STRING "The Maintainer of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PELFRY_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for the resource archives of the game Varn")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Pelfry opens the game's .DIR archives, lists and previews their entries (still\n"
       "images and animated sprites), extracts, deletes, adds and replaces entries and\n"
       "saves them in the game's layout. It converts the game's images and sprites to\n"
       "pictures (.bmp or .png) that any picture editor handles, and back, rebuilding\n"
       "only what was edited.\n"
       "\n"
       "The package holds the editor (pelfry) and its command-line twin (pelfry-cli)\n"
       "with its man page and bash completion, which also makes animated GIFs of\n"
       "sprites and the thumbnails file managers show of the game's files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: the libraries the programs link, as dpkg-shlibdeps finds them; and the platform
# plugins, without which Qt cannot open a window (Qt itself only recommends them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# What puts the MIME types and the file managers' associations into effect (and lets a user
# change them: xdg-mime), and what loads the bash completion (bash itself does not).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "shared-mime-info, desktop-file-utils, xdg-utils, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Staged with DESTDIR, which keeps the install step from writing the desktop's caches into
# the package (see app/qt/CMakeLists.txt).
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
include(CPack)
