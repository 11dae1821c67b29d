// Times building an icon family from large images against one plain scale of the same image.
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "icon/icns_family.h"

namespace {

// A photograph-like source: smooth gradients with fine detail and some transparency.
QImage makeSource(int n) {
    QImage image(n, n, QImage::Format_ARGB32);
    std::uint32_t noise = 12345;
    for (int y = 0; y < n; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < n; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28);
            line[x] = qRgba((x * 255 / n + grain) & 0xFF, (y * 255 / n) & 0xFF,
                            ((x + y) * 127 / n + grain) & 0xFF, x < n / 8 ? 128 : 255);
        }
    }
    return image;
}

template <typename Work>
double medianSeconds(int runs, Work work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    struct Case {
        int size;
        double goal;
        int runs;
    };
    bool allMet = true;
    for (const Case& c : {Case{1024, 0.3, 7}, Case{4096, 1.5, 3}}) {
        const QImage source = makeSource(c.size);
        const double baseline = medianSeconds(c.runs, [&] {
            const QImage scaled =
                source.scaled(512, 512, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            if (scaled.isNull())
                std::fprintf(stderr, "baseline scaling failed\n");
        });
        std::size_t bytes = 0;
        const double family = medianSeconds(c.runs, [&] {
            const auto built = vynd::IcnsFamily::iconFamilyWithThumbnailsOfImage(source);
            bytes = built ? std::size_t(built->data().size()) : 0;
        });
        const bool met = family < c.goal;
        allMet = allMet && met;
        std::printf(
            "family from %dx%d: %.3f s (goal %.1f s, %s), %zu bytes; one scale to 512: %.3f s; "
            "ratio %.1f\n",
            c.size, c.size, family, c.goal, met ? "met" : "missed", bytes, baseline,
            baseline > 0 ? family / baseline : 0.0);
    }
    return allMet ? 0 : 1;
}
