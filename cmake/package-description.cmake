# What every package says about itself: the Windows ZIP and installer, the Linux TGZ and DEB.
# Every value reaches CPack as written, the installer script's backslashes and $ included.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME "VestrahalLauncher")
set(CPACK_PACKAGE_VENDOR "Vestrahal")
set(CPACK_PACKAGE_CONTACT "Vestrahal")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Lanceur de la communauté Vestrahal : nouvelles, royaumes et lancement du jeu")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Vestrahal Launcher")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
