#pragma once
// Pictures made for the tests with ImageMagick's convert, and small helpers over them.
#include <QImage>
#include <filesystem>
#include <string>

namespace pictest {

// Runs `convert` with `arguments` (already quoted where needed) writing `out`; fails the test when
// convert is missing or fails.
void Convert(const std::string& arguments, const std::filesystem::path& out, const std::string& prefix = "");
// A width x height picture: the left half red, the right half blue.
// `prefix` is convert's format prefix for the output ("BMP3:"), `extra` more options ("-depth 8").
std::filesystem::path RedBlue(const std::filesystem::path& dir, const std::string& name, int width, int height,
                              const std::string& prefix = "", const std::string& extra = "");
// A picture of one colour ("black", "white", "#336699").
std::filesystem::path Plain(const std::filesystem::path& dir, const std::string& name, int width, int height,
                            const std::string& colour);
// The pixel at (x, y) as 0xRRGGBB.
unsigned Rgb(const QImage& image, int x, int y);
// True when the colour of (x, y) lies within `tolerance` of `rgb` in every channel.
bool Near(const QImage& image, int x, int y, unsigned rgb, int tolerance);

}  // namespace pictest
