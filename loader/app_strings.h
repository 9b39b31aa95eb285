// The loader's fixed texts that more than one module shows.
#pragma once

namespace velmor {

inline constexpr const wchar_t* kAppTitle = L"Velmor Firmware Loader";
inline constexpr const wchar_t* kAppVersion = L"1.0.7";
inline constexpr const wchar_t* kWindowTitle = L"GPS firmware loader";
inline constexpr const char* kLogFileName = "Velmor.txt";

} // namespace velmor
