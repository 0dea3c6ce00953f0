#pragma once

// Whether the suite runs under Wine rather than Windows: the rows that meet one of Wine's known
// gaps skip there, with the reason and where Wine says so, and still run on Windows.
#ifdef Q_OS_WIN
#include <qt_windows.h>

inline bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
inline bool runningUnderWine() {
    return false;
}
#endif
