// Times how long the pane's log view holds the window up on a large log, against reading the
// whole file once.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextCursor>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "prefspane/log_follower.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void writeLog(const std::string& path, long long bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    long long written = 0;
    for (long long i = 0; written < bytes; ++i) {
        const std::string line = "2024/01/01 10:00:00 Info rsync: >f+++++++++ Applications/Tool " +
                                 std::to_string(i) + ".app/Contents/Resources/file.dat\n";
        out << line;
        written += static_cast<long long>(line.size());
    }
}

// The old way: every byte of the file into memory.
double readWhole(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(path.c_str(), O_RDONLY);
    std::string all;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
    close(fd);
    return seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.filePath("vynd.log").toStdString();
    const long long size = 110LL << 20;
    writeLog(path, size);
    const double whole = readWhole(path);

    QPlainTextEdit view;
    view.setLineWrapMode(QPlainTextEdit::NoWrap);
    view.setMaximumBlockCount(vynd::LogFollower::kTailLines + 1);
    view.resize(1200, 300);
    view.show();
    QApplication::processEvents();

    vynd::LogFollower follower(path);
    follower.start();
    auto start = std::chrono::steady_clock::now();
    vynd::LogFollower::Update first = follower.poll();
    view.setPlainText(first.text);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QApplication::processEvents();
    const double opening = seconds(start);

    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        for (int i = 0; i < 1000; ++i)
            out << "2024/01/01 10:00:01 Info appended line " << i << "\n";
    }
    start = std::chrono::steady_clock::now();
    vynd::LogFollower::Update next = follower.poll();
    QTextCursor end(view.document());
    end.movePosition(QTextCursor::End);
    end.insertText(next.text);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QApplication::processEvents();
    const double appending = seconds(start);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("log of %lld MB, %d lines shown\n", size >> 20, view.document()->blockCount() - 1);
    std::printf("reading the whole file once:   %.3f s (baseline)\n", whole);
    std::printf("opening the view at its end:   %.3f s (%.2f of baseline)\n", opening,
                opening / whole);
    std::printf("showing 1000 appended lines:   %.3f s (%.2f of baseline)\n", appending,
                appending / whole);
    std::printf("peak memory:                   %ld MB\n", usage.ru_maxrss / 1024);
    return opening < 0.1 && appending < 0.1 ? 0 : 1;
}
