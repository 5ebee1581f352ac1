#pragma once
// Small text helpers shared by every subsystem. Texts are UTF-8 std::string.
#include <cstdint>
#include <string>
#include <string_view>

// ASCII lower case (file extensions and matching never need more).
std::string LowerCase(std::string_view s);
bool EndsWith(std::string_view s, std::string_view suffix);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);
bool EqualsNoCase(std::string_view a, std::string_view b);

// True for a non-empty text made only of the characters 0 to 9.
bool IsAllDigits(std::string_view s);

// "1234567" -> "1,234,567"; negative numbers keep their sign.
std::string FormatWithCommas(int64_t value);
// "1,234,567" -> 1234567; anything that is not a number gives 0.
int64_t RemoveCommas(std::string_view text);

// Whole days since 30 December 1899 (day 0); 2 May 2005 is 38474.
int64_t TodayDayNumber();
int64_t DayNumberOf(int year, int month, int day);
void DateOfDayNumber(int64_t dayNumber, int& year, int& month, int& day);

// Last element of a path ("a/b/c.txt" -> "c.txt"); both "/" and "\\" separate.
std::string ExtractFileName(std::string_view path);
// Folder part without the trailing separator ("a/b/c.txt" -> "a/b").
std::string ExtractFileDir(std::string_view path);
// Extension with its dot, as written (".Zip"); empty when none.
std::string ExtractFileExt(std::string_view path);

// ISO-8859-1 bytes to UTF-8 (gzip header names and comments).
std::string Latin1ToUtf8(std::string_view latin1);
// UTF-8 to ISO-8859-1; false (and `out` partial) when a character lies above U+00FF or the text is
// not well-formed UTF-8.
bool Utf8ToLatin1(std::string_view utf8, std::string& out);
