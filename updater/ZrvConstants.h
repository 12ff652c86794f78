#pragma once
// Names and fixed texts of the update checker.
#include <QByteArray>

using Text = QByteArray;   // bytes, one ANSI character each; never decoded as UTF-8

inline constexpr const char* kZrvVersion = "1.5.060711";
inline constexpr const char* kZrvProgram = "ZRVUpdate";

// Module and form names as the error log prints them.
inline constexpr const char* kModZRVUpdate = "modZRVUpdate";
inline constexpr const char* kModCommonFunctions = "modCommonFunctions";
inline constexpr const char* kFrmMain = "frmMain";

inline constexpr const char* kNoticeLoading = "Loading... Please wait.";
inline constexpr const char* kNoticeError = "An error occurred.\r\nZRV Updater could not retrieve update information.";
inline constexpr const char* kNoticeNone =
    "No available updates.\r\nYou are running the most current versions available.";
inline constexpr const char* kNoticeFound =
    "Updates available!\r\nChoose an update and click 'Download' to retrieve the file.";
inline constexpr const char* kNoticeShowAll =
    "Showing all downloads.\r\nChoose a package and click 'Download' to retrieve the file.";
inline constexpr const char* kErrorDownloadingInfo = "Error downloading information.";
