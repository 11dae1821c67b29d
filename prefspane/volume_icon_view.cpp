// The pane's volume icon well: shows the image that becomes a prepared share's volume icon, and
// takes dropped images.
#include "prefspane/volume_icon_view.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>

namespace vynd {

namespace {

// The whole image is kept on the label itself, so it can be had back from
// the label alone.
constexpr char kImageProperty[] = "vyndVolumeImage";

QImage imageFrom(const QMimeData* mime) {
    if (!mime)
        return {};
    if (mime->hasImage()) {
        QImage image = qvariant_cast<QImage>(mime->imageData());
        if (!image.isNull())
            return image;
    }
    for (const QUrl& url : mime->urls()) {
        // Only files: reading a dropped FIFO or device would never end.
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile())
            continue;
        QImage image(url.toLocalFile());
        if (!image.isNull())
            return image;
    }
    return {};
}

}  // namespace

VolumeIconView::VolumeIconView(QLabel* label) : QObject(label), label_(label) {
    label_->setAcceptDrops(true);
    label_->installEventFilter(this);
}

VolumeIconView* VolumeIconView::attach(QLabel* label) {
    return new VolumeIconView(label);
}

QImage VolumeIconView::image(const QLabel* label) {
    QImage kept = qvariant_cast<QImage>(label->property(kImageProperty));
    if (!kept.isNull())
        return kept;
    return label->pixmap().toImage();
}

bool VolumeIconView::setImage(const QImage& image) {
    if (image.isNull())
        return false;
    label_->setProperty(kImageProperty, image);
    render();
    return true;
}

void VolumeIconView::render() {
    const QImage image = qvariant_cast<QImage>(label_->property(kImageProperty));
    if (image.isNull())
        return;
    // Drawn in device pixels, so the picture stays sharp on a scaled screen.
    const qreal ratio = label_->devicePixelRatioF();
    const QSize box = label_->minimumSize().isEmpty() ? QSize(48, 48) : label_->minimumSize();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(box * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    label_->setPixmap(pixmap);
}

bool VolumeIconView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != label_)
        return false;
    // The window may have come up on, or moved to, a screen of another scale.
    if (event->type() == QEvent::Show || event->type() == QEvent::ScreenChangeInternal) {
        if (label_->pixmap().devicePixelRatio() != label_->devicePixelRatioF())
            render();
        return false;
    }
    // A disabled well (the pane locked) takes nothing.
    if (event->type() == QEvent::DragEnter) {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (label_->isEnabled() && !imageFrom(drag->mimeData()).isNull())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (label_->isEnabled() && setImage(imageFrom(drop->mimeData())))
            drop->acceptProposedAction();
        else
            drop->ignore();
        return true;
    }
    return false;
}

}  // namespace vynd
