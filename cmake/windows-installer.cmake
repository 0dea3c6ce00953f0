# The Windows installer's settings, for CPack's NSIS generator. Included by the project on
# Windows and by tools/windows-installer, which has makensis build the same script on Linux.
# Per user, under the player's local application data: the launcher writes its settings,
# its report and its own new executable in its folder, which Program Files would refuse.
set(CPACK_NSIS_INSTALL_ROOT "$LOCALAPPDATA")
set(CPACK_NSIS_DISPLAY_NAME "Vestrahal Launcher")
set(CPACK_NSIS_PACKAGE_NAME "Vestrahal Launcher")
set(CPACK_NSIS_MUI_ICON "${CMAKE_CURRENT_LIST_DIR}/../resources/iconlauncher.ico")
set(CPACK_NSIS_MUI_UNIICON "${CMAKE_CURRENT_LIST_DIR}/../resources/iconlauncher.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "VestrahalLauncher.exe")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
# The shortcut starts the launcher in its own folder, where it finds launcher.conf.
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "  SetOutPath \"$INSTDIR\"\n  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\Vestrahal Launcher.lnk\" \"$INSTDIR\\VestrahalLauncher.exe\"")
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Vestrahal Launcher.lnk\"")
# CMake's installer script asks for an administrator and installs for all users; a copy of
# it, made when configuring, installs for the current user without elevation.
file(READ "${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in" vestrahal_nsis)
string(FIND "${vestrahal_nsis}" "RequestExecutionLevel admin" found)
if(found EQUAL -1)
    message(FATAL_ERROR "CMake's NSIS template no longer asks for an administrator in "
        "the expected words: check the per-user installer")
endif()
string(REPLACE "RequestExecutionLevel admin" "RequestExecutionLevel user"
    vestrahal_nsis "${vestrahal_nsis}")
# Shortcuts and the uninstall entry for this user, even for a member of Administrators; and
# the default folder stays under the local application data rather than Documents.
string(REPLACE "SetShellVarContext all" "SetShellVarContext current"
    vestrahal_nsis "${vestrahal_nsis}")
string(REPLACE "$DOCUMENTS\\@CPACK_PACKAGE_INSTALL_DIRECTORY@"
    "@CPACK_NSIS_INSTALL_ROOT@\\@CPACK_PACKAGE_INSTALL_DIRECTORY@"
    vestrahal_nsis "${vestrahal_nsis}")
file(WRITE ${CMAKE_BINARY_DIR}/cpack-nsis/NSIS.template.in "${vestrahal_nsis}")
list(PREPEND CPACK_MODULE_PATH ${CMAKE_BINARY_DIR}/cpack-nsis)
