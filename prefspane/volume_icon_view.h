// The pane's volume icon well: shows the image that becomes a prepared share's volume icon, and
// takes dropped images.
#pragma once

#include <QImage>
#include <QLabel>
#include <QObject>

namespace vynd {

// Lets the label take an image dropped on it (image data, or a local image
// file), keeping the image whole for the icon family while it shows a
// picture sized to the label.
class VolumeIconView : public QObject {
    Q_OBJECT

  public:
    // The view belongs to the label and goes with it.
    static VolumeIconView* attach(QLabel* label);

    // The image the label shows, at the best resolution it has.
    [[nodiscard]] static QImage image(const QLabel* label);

    // Shows the image; false for an image that is empty.
    bool setImage(const QImage& image);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit VolumeIconView(QLabel* label);
    void render();

    QLabel* label_;
};

}  // namespace vynd
