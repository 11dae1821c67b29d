// Conversions between property-list nodes and the settings store's values.
#pragma once

#include <plist/plist.h>

#include <QVariant>

namespace vynd {

// Invalid for node kinds the store cannot hold (uid, null).
[[nodiscard]] QVariant variantFromPlist(plist_t node);
// A new node (owned by the caller), or null for a value a property list
// cannot hold.
[[nodiscard]] plist_t plistFromVariant(const QVariant& value);

}  // namespace vynd
