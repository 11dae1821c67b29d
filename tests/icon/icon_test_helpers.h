// Helpers of the icon family tests: message capture, child programs, test bitmaps.
#pragma once

#include <QImage>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "icon/bitmap_image_rep.h"
#include "tests/support/files.h"

namespace vynd::test {

// Collects the lines the icon code reports while it lives.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
    [[nodiscard]] const std::vector<std::string>& messages() const;
};

// Runs a program with that argument vector (argv[0] a full path), standard output and error
// collected into `output`. Returns its exit status, or -1 if it could not be run.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// Whether a file exists and may be executed.
[[nodiscard]] bool isExecutable(const std::string& path);

// A QGuiApplication for the tests that need one, made on first use.
void ensureGuiApplication();

// A bitmap of N x N pixels with the given layout, rows padded to bytesPerRow, filled from the
// generator (one byte per sample).
[[nodiscard]] BitmapImageRep makeBitmap(int n, int samplesPerPixel, std::mt19937& random,
                                        int padding = 0);

// A 32-bit RGBA bitmap, colour not premultiplied, of random pixels with flat areas (runs for
// the channel packing) and fully transparent ones.
[[nodiscard]] BitmapImageRep makeTestPattern(int n, std::uint32_t seed);

// One solid-colour 32-bit premultiplied RGBA bitmap.
[[nodiscard]] BitmapImageRep makeSolidBitmap(int n, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                                             std::uint8_t a);

}  // namespace vynd::test
