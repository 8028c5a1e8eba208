// The version the build gives the binaries (project() in the top
// CMakeLists.txt), as their version blocks should carry it.
#ifndef KESTOR_TESTS_BUILD_VERSION_H
#define KESTOR_TESTS_BUILD_VERSION_H

#include <windows.h>

#include <string>

// VS_FIXEDFILEINFO's halves: major.minor and patch.tweak.
inline DWORD BuildVersionHigh()
{
    return MAKELONG(KESTOR_VERSION_MINOR, KESTOR_VERSION_MAJOR);
}

inline DWORD BuildVersionLow()
{
    return MAKELONG(KESTOR_VERSION_TWEAK, KESTOR_VERSION_PATCH);
}

// The version strings' spelling, "1, 0, 4, 0".
inline std::string BuildVersionText()
{
    return std::to_string(KESTOR_VERSION_MAJOR) + ", " + std::to_string(KESTOR_VERSION_MINOR) +
           ", " + std::to_string(KESTOR_VERSION_PATCH) + ", " +
           std::to_string(KESTOR_VERSION_TWEAK);
}

#endif  // KESTOR_TESTS_BUILD_VERSION_H
