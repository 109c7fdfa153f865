# `cmake --build build --target package` makes quillmart_<version>_amd64.deb from
# the install rules: both programs, the man page and bash completion of
# quillmart-cli, help.htm, the desktop entry and the icon, installed under /usr.
# dpkg-shlibdeps (package dpkg-dev, part of build-essential) computes the
# libraries the programs link; the rest of Depends is what they start at run
# time: Qt's platform plugins to open a window, xdg-open for Preview and Help.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmart)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumenfold")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keep a product table and publish it as a web catalog")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quillmart keeps a small business's product table in dBASE III files and builds a\n"
    "static web catalog from it (a listing page and one page per product), previews it\n"
    "in the browser and publishes it by FTP. quillmart-cli runs the same jobs from the\n"
    "command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lumenfold <quillmart@lumenfold.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)
