#pragma once

namespace marlix {

// The maker's and the product's web pages, opened from the Help menu.
inline constexpr const char* kMakerUrl = "https://marlix.example.org/";
inline constexpr const char* kProductUrl = "https://marlix.example.org/audio/";

} // namespace marlix
