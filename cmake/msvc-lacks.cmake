# Writes into the folder `msvc_lacks` the POSIX headers that MinGW-w64 brings and MSVC lacks, each
# an #error: a folder searched first makes including one an error, as it is for MSVC. Included by
# cmake/warnings.cmake for MinGW-w64 builds, and run by tools/check-windows.sh
# (cmake -Dmsvc_lacks=FOLDER -P cmake/msvc-lacks.cmake).
foreach(header unistd.h dirent.h strings.h libgen.h)
    file(WRITE ${msvc_lacks}/${header}
         "#error \"${header}: a POSIX header that MSVC does not have (guard it with Q_OS_UNIX)\"\n")
endforeach()
