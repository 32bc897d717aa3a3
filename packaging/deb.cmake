# The two Debian packages, built by `cpack -G DEB` in the build tree (scripts/package.sh):
# zapum (the app and its desktop integration) and zapum-devserver (the local backend).
# dpkg-shlibdeps finds the libraries the programs link; what they load at run time without
# linking it (QML modules, a Qt plug-in, libsecret, which QtKeychain opens to reach the keyring,
# the recogniser's model, the emoji font) and the desktop tools the sign-in handoff needs are
# named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zapum)
set(CPACK_PACKAGE_VENDOR ZaPum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ZaPum developers <packages@zapum.app>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL zapum devserver)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://zapum.app)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_ZAPUM_PACKAGE_NAME zapum)
set(CPACK_DEBIAN_ZAPUM_PACKAGE_SECTION utils)
string(JOIN ", " CPACK_DEBIAN_ZAPUM_PACKAGE_DEPENDS
  pocketsphinx-en-us fonts-noto-color-emoji
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-quick3d qml6-module-quick3d-assetutils qt6-quick3d-assetimporters-plugin
  libsecret-1-0 xdg-utils desktop-file-utils)
set(CPACK_COMPONENT_ZAPUM_DESCRIPTION "desktop companion you talk to
A small bee in a floating panel above the taskbar. Hold Right Alt and talk:
ZaPum writes down what you say, asks a language model that can act on your
desktop (list windows, bring an app forward, look at the screen, click after a
confirmation) and speaks the answer. Signed in to a ZaPum account it shows
guidance checklists, answers typed questions and receives help sent by the
products you use. Needs an X11 desktop.")

set(CPACK_DEBIAN_DEVSERVER_PACKAGE_NAME zapum-devserver)
set(CPACK_DEBIAN_DEVSERVER_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_DEVSERVER_DESCRIPTION "local stand-in for the ZaPum backend
Answers where ZaPum's Local (dev) environment points: the desktop API and
the browser link and admin pages, on 127.0.0.1 only, with its data in one
SQLite file. For developing and testing ZaPum without the hosted service.")

include(CPack)
