// What the stress client and the suites that start it agree on: the data a
// client writes for each value, and the exit codes it ends with.
#ifndef KESTOR_TESTS_STRESS_PROTOCOL_H
#define KESTOR_TESTS_STRESS_PROTOCOL_H

#include <string>

namespace stress {

// Ended with no failing call although it was told to call until one failed.
const unsigned long kExitNeverFailed = 0xC0DE0001;
// Bad command line, or an event that could not be opened.
const unsigned long kExitUsage = 0xC0DE0002;

inline std::wstring ValueName(const std::wstring &prefix, int index)
{
    return prefix + L"-" + std::to_wstring(index);
}

// Distinct per value and of varying length, so a value that lands under the
// wrong name or is cut short shows.
inline std::wstring ValueData(const std::wstring &prefix, int index)
{
    return L"data of " + prefix + L" #" + std::to_wstring(index) + L" " +
           std::wstring(static_cast<size_t>(index % 37), static_cast<wchar_t>(L'a' + index % 26));
}

}  // namespace stress

#endif  // KESTOR_TESTS_STRESS_PROTOCOL_H
