// Helpers of the icon family tests: message capture, child programs, test bitmaps.
#include "tests/icon/icon_test_helpers.h"

#include <QGuiApplication>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "tests/support/run_program.h"

namespace vynd::test {

namespace {

std::vector<std::string> gMessages;
QtMessageHandler gPrevious = nullptr;

void collect(QtMsgType, const QMessageLogContext&, const QString& text) {
    gMessages.push_back(text.toStdString());
}

}  // namespace

MessageCapture::MessageCapture() {
    gMessages.clear();
    gPrevious = qInstallMessageHandler(collect);
}

MessageCapture::~MessageCapture() {
    qInstallMessageHandler(gPrevious);
}

const std::vector<std::string>& MessageCapture::messages() const {
    return gMessages;
}

int runProgram(const std::vector<std::string>& argv, std::string* output) {
    ProgramResult r = run_program(argv, {}, true);
    if (output)
        *output = std::move(r.out);
    return r.status;
}

bool isExecutable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

void ensureGuiApplication() {
    if (qGuiApp)
        return;
    static int argc = 1;
    static char name[] = "icon_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QGuiApplication(argc, argv);
    (void)app;
}

BitmapImageRep makeBitmap(int n, int samplesPerPixel, std::mt19937& random, int padding) {
    BitmapImageRep b;
    b.pixelsWide = b.pixelsHigh = n;
    b.bitsPerSample = 8;
    b.samplesPerPixel = samplesPerPixel;
    b.bitsPerPixel = 8 * samplesPerPixel;
    b.bytesPerRow = n * samplesPerPixel + padding;
    b.bitmapData.resize(qsizetype(b.bytesPerRow) * n);
    for (char& c : b.bitmapData) c = char(random() & 0xFF);
    return b;
}

BitmapImageRep makeTestPattern(int n, std::uint32_t seed) {
    std::mt19937 random(seed);
    BitmapImageRep b = makeBitmap(n, 4, random);
    b.alphaNonpremultiplied = true;
    auto* p = reinterpret_cast<unsigned char*>(b.bitmapData.data());
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            unsigned char* px = p + qsizetype(y) * b.bytesPerRow + x * 4;
            if (y < n / 4) {  // a flat band: long runs in every channel
                px[0] = 200, px[1] = 30, px[2] = 90, px[3] = 255;
            } else if (y < n / 2 && x < n / 2) {  // transparent
                px[0] = px[1] = px[2] = px[3] = 0;
            } else if (y < n / 2) {  // opaque noise
                px[3] = 255;
            }
        }
    }
    return b;
}

BitmapImageRep makeSolidBitmap(int n, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                               std::uint8_t a) {
    BitmapImageRep rep;
    rep.pixelsWide = rep.pixelsHigh = n;
    rep.bytesPerRow = n * 4;
    rep.bitmapData.resize(qsizetype(n) * n * 4);
    for (qsizetype i = 0; i < qsizetype(n) * n; ++i) {
        rep.bitmapData[i * 4] = char(r);
        rep.bitmapData[i * 4 + 1] = char(g);
        rep.bitmapData[i * 4 + 2] = char(b);
        rep.bitmapData[i * 4 + 3] = char(a);
    }
    return rep;
}

}  // namespace vynd::test
