#pragma once
inline constexpr const char* kVersion = "1.4.060711";
