// Moving an icon family through the clipboard under the two icns types.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "icon/icns_family.h"

namespace vynd {

namespace {

QClipboard* clipboard() {
    return qGuiApp ? QGuiApplication::clipboard() : nullptr;
}

}  // namespace

bool IcnsFamily::canInitWithScrap() {
    QClipboard* board = clipboard();
    const QMimeData* offered = board ? board->mimeData() : nullptr;
    return offered && (offered->hasFormat(QString::fromLatin1(kIcnsPasteboardType)) ||
                       offered->hasFormat(QString::fromLatin1(kIcnsFlavorPasteboardType)));
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithScrap() {
    IcnsFamily family;
    if (!family.initWithScrap())
        return std::nullopt;
    return family;
}

bool IcnsFamily::initWithScrap() {
    hIconFamily = QByteArray();
    QClipboard* board = clipboard();
    const QMimeData* offered = board ? board->mimeData() : nullptr;
    if (!offered)
        return false;
    for (const char* type : {kIcnsPasteboardType, kIcnsFlavorPasteboardType}) {
        const QString format = QString::fromLatin1(type);
        if (offered->hasFormat(format))
            return initWithData(offered->data(format));
    }
    return false;
}

bool IcnsFamily::putOnScrap() const {
    QClipboard* board = clipboard();
    if (!board)
        return false;
    auto* offered = new QMimeData;
    offered->setData(QString::fromLatin1(kIcnsPasteboardType), hIconFamily);
    offered->setData(QString::fromLatin1(kIcnsFlavorPasteboardType), hIconFamily);
    board->setMimeData(offered);  // the clipboard takes ownership
    return true;
}

}  // namespace vynd
