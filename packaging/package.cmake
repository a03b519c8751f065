# `cpack -G DEB` in a build folder makes ufcs-suite_VERSION_ARCH.deb from what
# `cmake --install` puts under /usr. The libraries it needs are found by
# dpkg-shlibdeps from the built programs; only what the programs load without
# linking is named here.
set(CPACK_PACKAGE_NAME ufcs-suite)
set(CPACK_PACKAGE_VERSION ${UFCS_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Tarsel")
set(CPACK_PACKAGE_CONTACT "UFCS suite developers <ufcs-suite@tarsel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "UFCS protocol analyzer and USB voltage/current recorder")
set(CPACK_PACKAGE_DESCRIPTION
    "Desktop programs for the Tarsel UFCS instrument, a USB tester between a charger and a
phone: TarselUFCS解析程序 captures, decodes and checks every UFCS message and can act as
the phone; Tarsel电压电流测量 records bus voltage and current for hours or days; ufcs
does the same from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The CJK font draws every text of the windows and the manual.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-translations-l10n")
# Exported captures open in Wireshark with the dissector the package installs.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cpack_project_config.cmake.in
               ${CMAKE_CURRENT_BINARY_DIR}/cpack_project_config.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack_project_config.cmake)
include(CPack)
