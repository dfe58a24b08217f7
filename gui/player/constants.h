#pragma once

namespace marlix {

// The Help menu's pages, relative to the program folder: the shipped help's contents and
// its sections on the maker and on the product.
inline constexpr const char* kHelpContents = "help/index.html";
inline constexpr const char* kMakerPage = "help/index.html#maker";
inline constexpr const char* kProductPage = "help/index.html#product";

} // namespace marlix
