#pragma once
// The desktop around the program: opening files and pages with their programs, file-type icons.
#include <QIcon>
#include <string>

// Opens a file, folder or web address with the desktop's program for it; false when none could start.
bool OpenWithDesktop(const std::string& pathOrUrl);

// The desktop's icon for files with this extension (".txt"), from the MIME database and the icon
// theme; null when the theme has none.
QIcon ThemeIconForExtension(const std::string& ext);
// The shared MIME database's description of files with this extension ("plain text document"); empty
// when the extension is unknown.
std::string MimeDescriptionForExtension(const std::string& ext);
// The MIME type's top-level kind for an extension ("text", "image", "audio", "video", "application"),
// empty when the extension is unknown.
std::string MimeKindForExtension(const std::string& ext);
