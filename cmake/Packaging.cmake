# The Debian package. `cpack -G DEB` in the build directory writes velmora_<version>_<arch>.deb:
#
#   /opt/velmora/Velmora.app                                       the bundle, as the build made it
#   /usr/share/applications/fr.velmora.universal.desktop           the menu entry
#   /usr/share/icons/hicolor/{scalable,128x128,256x256}/apps/      the icon
#   /usr/share/metainfo/fr.velmora.universal.metainfo.xml          the software centre's description
#   /etc/apt/sources.list.d/velmora.sources                        the vendor's APT repository (a conffile)
#   /usr/share/keyrings/velmora.gpg                                the key that repository is signed with
#
# Its version is PROJECT_VERSION+VELMORA_BUILD_NUMBER (1.0.0+101), so that every build orders
# after the one before it and APT updates an install from the repository. The source and its
# key are there only when VELMORA_APT_KEY names the repository's public key.
#
# Everything here belongs to the install component "package", which a plain `cmake --install`
# leaves out: an install to a prefix still gives PREFIX/Velmora.app alone and never writes to
# /usr/share, and only the package places the bundle under /opt.
#
# The icon and desktop caches need no maintainer scripts: gtk-update-icon-cache and
# desktop-file-utils watch those folders through dpkg triggers.
if(NOT TARGET velmora_bundle)
    return()
endif()

set(velmora_bundle_id fr.velmora.universal)
set(velmora_share usr/share)
# Install destinations are relative to CPACK_PACKAGING_INSTALL_PREFIX, which is the root.
string(REGEX REPLACE "^/+" "" velmora_package_dir "${VELMORA_PACKAGE_DIR}")

install(DIRECTORY ${CMAKE_BINARY_DIR}/Velmora.app DESTINATION ${velmora_package_dir} USE_SOURCE_PERMISSIONS
    COMPONENT package EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_BINARY_DIR}/bundle/${velmora_bundle_id}.desktop DESTINATION ${velmora_share}/applications
    COMPONENT package EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_BINARY_DIR}/bundle/${velmora_bundle_id}.metainfo.xml DESTINATION ${velmora_share}/metainfo
    COMPONENT package EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/bundle/icons/${velmora_bundle_id}.svg
    DESTINATION ${velmora_share}/icons/hicolor/scalable/apps COMPONENT package EXCLUDE_FROM_ALL)
foreach(size 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/bundle/icons/${velmora_bundle_id}-${size}.png
        DESTINATION ${velmora_share}/icons/hicolor/${size}x${size}/apps RENAME ${velmora_bundle_id}.png
        COMPONENT package EXCLUDE_FROM_ALL)
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/AptSource.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VELMORA_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Velmóra")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NOT VELMORA_BUILD_NUMBER MATCHES "^[0-9]+$")
    message(FATAL_ERROR "VELMORA_BUILD_NUMBER must be an integer, not \"${VELMORA_BUILD_NUMBER}\"")
endif()
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}+${VELMORA_BUILD_NUMBER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://${VELMORA_PUBLIC_HOST}/")
set(CPACK_PACKAGE_CONTACT "Équipe Velmóra <support@${VELMORA_PUBLIC_HOST}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Console d’administration de votre espace de réservation, avec ses notifications")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmóra ouvre la console d’administration de votre espace de réservation et de messagerie\n"
    "dans une fenêtre à part et y ajoute les notifications du bureau pour chaque nouvelle\n"
    "entrée, même fenêtre fermée, le démarrage à l’ouverture de session, l’impression, les\n"
    "téléchargements et le passage automatique à une nouvelle version installée.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps reads the libraries the programs and the web extension link against. What it
# cannot see: TLS for the web engine is a GIO module, and the chime is played by GStreamer
# plugins (playbin, the WAV parser, an audio sink) loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "glib-networking")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only the component above goes into the package, with the root as its prefix.
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};package;/")
include(CPack)
