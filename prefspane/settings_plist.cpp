// Conversions between property-list nodes and the settings store's values.
#include "prefspane/settings_plist.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <QVariantList>
#include <QVariantMap>

#include <cstdlib>

#include "platform/property_list.h"

namespace vynd {

namespace {

// Property-list dates count from 2001-01-01 00:00:00 UTC.
const qint64 kPlistEpoch = 978307200;

}  // namespace

QVariant variantFromPlist(plist_t node) {
    if (!node)
        return {};
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return bool(b);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // Negative integers are held as their two's complement.
            return qlonglong(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return d;
        }
        case PLIST_STRING: {
            std::optional<std::string> text = plist_string(node);
            if (!text)
                return {};
            return QString::fromStdString(*text);
        }
        case PLIST_DATA: {
            char* d = nullptr;
            uint64_t n = 0;
            plist_get_data_val(node, &d, &n);
            QByteArray bytes(d ? d : "", static_cast<qsizetype>(n));
            std::free(d);
            return bytes;
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return QDateTime::fromMSecsSinceEpoch((kPlistEpoch + sec) * 1000 + usec / 1000,
                                                  QTimeZone::utc());
        }
        case PLIST_ARRAY: {
            QVariantList list;
            uint32_t n = plist_array_get_size(node);
            for (uint32_t i = 0; i < n; ++i) {
                QVariant item = variantFromPlist(plist_array_get_item(node, i));
                if (item.isValid())
                    list.append(item);
            }
            return list;
        }
        case PLIST_DICT: {
            QVariantMap map;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* key = nullptr;
                plist_t value = nullptr;
                plist_dict_next_item(node, it, &key, &value);
                if (!key)
                    break;
                QVariant item = variantFromPlist(value);
                if (item.isValid())
                    map.insert(QString::fromUtf8(key), item);
                std::free(key);
            }
            std::free(it);
            return map;
        }
        default:
            return {};
    }
}

plist_t plistFromVariant(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return plist_new_bool(value.toBool());
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::Long:
            return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            return plist_new_uint(value.toULongLong());
        case QMetaType::Double:
        case QMetaType::Float:
            return plist_new_real(value.toDouble());
        case QMetaType::QString:
            return plist_new_string(value.toString().toUtf8().constData());
        case QMetaType::QByteArray: {
            QByteArray bytes = value.toByteArray();
            return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
        }
        case QMetaType::QDateTime: {
            qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kPlistEpoch * 1000;
            return plist_new_date(static_cast<int32_t>(ms / 1000),
                                  static_cast<int32_t>((ms % 1000) * 1000));
        }
        case QMetaType::QStringList:
        case QMetaType::QVariantList: {
            plist_t array = plist_new_array();
            for (const QVariant& item : value.toList())
                if (plist_t node = plistFromVariant(item))
                    plist_array_append_item(array, node);
            return array;
        }
        case QMetaType::QVariantMap: {
            plist_t dict = plist_new_dict();
            QVariantMap map = value.toMap();
            for (auto it = map.begin(); it != map.end(); ++it)
                if (plist_t node = plistFromVariant(*it))
                    plist_dict_set_item(dict, it.key().toUtf8().constData(), node);
            return dict;
        }
        default:
            return nullptr;
    }
}

}  // namespace vynd
