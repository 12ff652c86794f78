#pragma once
// Loading and saving the settings record, with the start-up checks that
// locate the BBS installation first.
#include "server/bbs/ServerContext.h"

enum class LoadCfgResult { Ok, NoSysPaths, InvalidMainDir, NoMainCfg, ReadError };

// Reads SYSPATHS.CFG from the current directory, changes into the BBS main
// directory, reads MAIN.CFG and the settings file (creating, upgrading and
// range-checking it). A fatal result leaves the records as they were read.
// ReadError: a file that exists could not be read; `problem` then says
// which and why ("Cannot read FILE: reason"), and the settings are untouched.
LoadCfgResult LoadSettings(SettingsRecord& settings, BbsConfig& bbs, EventLog& log, Text* problem = nullptr);
Text LoadCfgMessage(LoadCfgResult result, const BbsConfig& bbs);
bool SaveSettings(const SettingsRecord& settings, const BbsConfig& bbs, EventLog& log);

// "ZRVDATA.DAT": the server's version goes into the 15 bytes at offset 36.
inline constexpr int kVersionRecordSize = 96;
inline constexpr int kVersionFieldOffset = 36;
bool WriteVersionRecord(const QString& mainDir);
