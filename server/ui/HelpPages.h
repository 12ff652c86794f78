#pragma once
// The product's web addresses and its support mail address.
inline constexpr const char* kHomePage = "https://www.osprine.example/";
inline constexpr const char* kDocumentationPage = "https://www.osprine.example/docs/";
inline constexpr const char* kSupportPage = "https://www.osprine.example/support/";
inline constexpr const char* kDonatePage = "https://www.osprine.example/donate/";
inline constexpr const char* kMakerSite = "https://www.osprine.example/";
inline constexpr const char* kUpdateDownload = "https://www.osprine.example/zrvupdate/";
inline constexpr const char* kSupportAddress = "support@osprine.example";
