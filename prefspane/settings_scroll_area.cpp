// The scroll area that holds the pane's settings above the log.
#include "prefspane/settings_scroll_area.h"

#include <QScrollBar>

namespace vynd {

SettingsScrollArea::SettingsScrollArea(QWidget* parent) : QScrollArea(parent) {}

QSize SettingsScrollArea::sizeHint() const {
    const int frame = 2 * frameWidth();
    if (!widget())
        return QScrollArea::sizeHint();
    // Unlike the base class, not capped at a few dozen lines: the page is
    // meant to be seen whole where it fits.
    return widget()->sizeHint() + QSize(frame, frame);
}

QSize SettingsScrollArea::minimumSizeHint() const {
    const int line = fontMetrics().height();
    const int bars = verticalScrollBar()->sizeHint().width();
    return QSize(12 * line + bars, 5 * line + bars);
}

}  // namespace vynd
