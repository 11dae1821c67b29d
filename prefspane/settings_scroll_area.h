// The scroll area that holds the pane's settings above the log.
#pragma once

#include <QScrollArea>

namespace vynd {

// Asks for the whole of its page, so that on a screen with room nothing
// scrolls and the log gets what is left; on a small screen or at a large
// scale it shrinks to a few lines and the page scrolls instead.
class SettingsScrollArea : public QScrollArea {
    Q_OBJECT

  public:
    explicit SettingsScrollArea(QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;
};

}  // namespace vynd
