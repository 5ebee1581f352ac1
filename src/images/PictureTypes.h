#pragma once
// The picture extensions: which archive entries and files count as pictures.
#include <string>
#include <string_view>

// True when `ext` (lower case, with its point: ".jpg") is one of the 26 picture extensions.
bool IsPictureExtension(std::string_view ext);
// The extension of a file name in lower case, with its point; empty when the name has none.
std::string LowerExtension(std::string_view name);
// True when a file or entry name ends in a picture extension, in any letter case.
bool HasPictureExtension(std::string_view name);
