// The pane's log view: following the daemon's log, keeping the reader's place, emptying it.
#include <QDesktopServices>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>

#include "platform/privileged_exec.h"
#include "prefspane/vynd_pref.h"
#include "ui_vynd_pref.h"

namespace vynd {

void vyndPref::watchLogFile() {
    log_.start();
}

void vyndPref::unwatchLogFile() {
    log_.stop();
}

void vyndPref::saveScrollPosition() {
    if (!ui_)
        return;
    const QScrollBar* vertical = ui_->logView->verticalScrollBar();
    savedScroll_ = ScrollPosition{ui_->logView->horizontalScrollBar()->value(), vertical->value(),
                                  vertical->value() >= vertical->maximum()};
}

void vyndPref::restoreScrollPosition() {
    if (!ui_ || !savedScroll_)
        return;
    QScrollBar* vertical = ui_->logView->verticalScrollBar();
    ui_->logView->horizontalScrollBar()->setValue(savedScroll_->horizontal);
    vertical->setValue(savedScroll_->atEnd ? vertical->maximum() : savedScroll_->vertical);
}

void vyndPref::setLogText(const QString& text) {
    saveScrollPosition();
    logText_ = text;
    logLines_ = static_cast<int>(text.count('\n'));
    if (ui_)
        ui_->logView->setPlainText(text);
    restoreScrollPosition();
    emit logTextChanged();
}

void vyndPref::setLogPlainText(const QString& text) {
    setLogText(text);
}

void vyndPref::showLogText(const QString& text, bool partial) {
    logPartial_ = partial;
    if (ui_)
        ui_->logTrimmedLabel->setVisible(partial);
    setLogPlainText(text);
    // A log read anew is shown from its latest line, and followed from there.
    if (ui_) {
        savedScroll_ = ScrollPosition{0, 0, true};
        restoreScrollPosition();
    }
}

void vyndPref::appendLogText(const QString& piece) {
    saveScrollPosition();
    logText_ += piece;
    logLines_ += static_cast<int>(piece.count('\n'));
    if (logLines_ > LogFollower::kTailLines) {
        qsizetype cut = -1;
        for (int drop = logLines_ - LogFollower::kTailLines; drop > 0; --drop)
            cut = logText_.indexOf('\n', cut + 1);
        logText_.remove(0, cut + 1);
        logLines_ = LogFollower::kTailLines;
        logPartial_ = true;
    }
    if (ui_) {
        ui_->logTrimmedLabel->setVisible(logPartial_);
        QTextDocument* doc = ui_->logView->document();
        const int before = doc->blockCount();
        // Insert at the end without touching the view's own cursor, so the
        // part of the log being read stays where it is.
        QTextCursor end(doc);
        end.movePosition(QTextCursor::End);
        end.insertText(piece);
        // Lines that fell off the top move what the reader sees up by as many.
        const int removed = before + static_cast<int>(piece.count('\n')) - doc->blockCount();
        if (savedScroll_ && !savedScroll_->atEnd && removed > 0)
            savedScroll_->vertical = std::max(0, savedScroll_->vertical - removed);
    }
    restoreScrollPosition();
    emit logTextChanged();
}

void vyndPref::refreshLog() {
    LogFollower::Update u = log_.poll();
    switch (u.change) {
        case LogFollower::Change::None:
            break;
        case LogFollower::Change::Replaced:
            showLogText(u.text, u.partial);
            break;
        case LogFollower::Change::Appended:
            appendLogText(u.text);
            break;
        case LogFollower::Change::Emptied:
            showLogText(QString(), false);
            break;
    }
}

void vyndPref::clearLogFile() {
    if (lockOpen_) {
        const PrivilegedRun run = run_privileged({kEmptyLogPath});
        if (run.status != 0) {
            const QString reason = failureOf(run, kEmptyLogPath);
            runAlert(
                tr("Unable to empty the log"),
                reason.isEmpty() ? tr("emptylog ended with status %1.").arg(run.status) : reason);
            return;
        }
    }
    showLogText(QString(), false);
    log_.rewind();
}

void vyndPref::openLogFile() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(kPaneLogPath));
}

}  // namespace vynd
