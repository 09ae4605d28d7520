# The Debian package: make deb (cpack -G DEB) builds vostrel_<version>_amd64.deb
# with the program, its desktop entry and its icon under /usr. Run-time
# dependencies are computed from the binary (dpkg-shlibdeps), plus what the
# program loads without linking it: a CJK font, the icon theme and Qt's SVG
# icon engine that draws it, and Qt's platform plugins.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Vostrel developers <vostrel@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send one composed mail to many recipients")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "send one composed mail to many recipients
Vostrel sends one composed e-mail to many recipients in one run: sender
accounts, destination lists with merge fields, plain text or HTML mail with
attachments and inline pictures, a paced background send over SMTP with
sender rotation, a list of the recipients whose mail failed, and a sent-mail
history. Every record is encrypted under the user's password. Mail leaves in
ISO-2022-JP; the program is in Japanese.")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vostrel_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-noto-cjk, breeze-icon-theme, libqt6svg6, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)
