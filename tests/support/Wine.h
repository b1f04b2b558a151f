#pragma once

// Whether the test runs under Wine, which differs from Windows where a test
// depends on it.
#if defined(_WIN32)
#include <windows.h>
#endif

namespace testsupport {

inline bool RunningUnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace testsupport
