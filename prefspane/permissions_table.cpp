// One area's table of owner, group and everyone with their access popups.
#include "permissions_table.h"

#include <QHeaderView>
#include <QSignalBlocker>

namespace vynd {

namespace {

void setEntries(QComboBox* box, const QStringList& entries) {
    QStringList now;
    for (int i = 0; i < box->count(); ++i) now << box->itemText(i);
    if (now != entries) {
        box->clear();
        box->addItems(entries);
    }
}

QStringList toStringList(const std::vector<std::string>& names) {
    QStringList out;
    for (const auto& n : names) out << QString::fromStdString(n);
    return out;
}

}  // namespace

const QStringList& PermissionsTable::permissionEntries() {
    static const QStringList entries = {"Read & Write", "Read Only", "No Access"};
    return entries;
}

PermissionsTable::PermissionsTable(QWidget* parent) : QTableWidget(3, 2, parent) {
    setHorizontalHeaderLabels({tr("Who"), tr("Access")});
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->hide();
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    for (int row = 0; row < 3; ++row) {
        name_[row] = new QComboBox(this);
        name_[row]->setObjectName(QString("name%1").arg(row));
        priv_[row] = new QComboBox(this);
        priv_[row]->setObjectName(QString("priv%1").arg(row));
        setCellWidget(row, 0, name_[row]);
        setCellWidget(row, 1, priv_[row]);
        connect(name_[row], &QComboBox::activated, this,
                [this, row](int position) { nameChosen(row, position); });
        connect(priv_[row], &QComboBox::activated, this,
                [this, row](int position) { privChosen(row, position); });
    }
    resizeRowsToContents();
    int height = horizontalHeader()->height() + 2 * frameWidth();
    for (int row = 0; row < 3; ++row) height += rowHeight(row);
    setFixedHeight(height);
}

void PermissionsTable::configure(SettingsStore* store, Keys keys,
                                 std::shared_ptr<const Names> users,
                                 std::shared_ptr<const Names> groups) {
    if (store_)
        disconnect(store_, nullptr, this, nullptr);
    store_ = store;
    keys_ = std::move(keys);
    users_ = std::move(users);
    groups_ = std::move(groups);
    connect(store_, &SettingsStore::valueChanged, this, &PermissionsTable::refresh);
    refresh();
}

void PermissionsTable::setAuthorized(bool authorized) {
    authorized_ = authorized;
    refresh();
}

void PermissionsTable::refresh() {
    if (!store_)
        return;
    bool enabled = authorized_ && store_->flag(keys_.enabling);
    QString perms = store_->text(keys_.perms);
    for (int row = 0; row < 3; ++row) {
        QSignalBlocker nameBlock(name_[row]);
        QSignalBlocker privBlock(priv_[row]);
        if (row < 2) {
            const auto& names = row == 0 ? users_ : groups_;
            setEntries(name_[row], toStringList(*names));
            ArrayStringIndexTransformer index(names);
            auto position = index.transformedValue(
                store_->text(row == 0 ? keys_.owner : keys_.group).toStdString());
            name_[row]->setCurrentIndex(position.value_or(-1));
        } else {
            setEntries(name_[row], {tr("Everyone")});
            name_[row]->setCurrentIndex(0);
        }
        setEntries(priv_[row], permissionEntries());
        priv_[row]->setCurrentIndex(privTransformers_[row].transformedValue(perms.toStdString()));
        name_[row]->setEnabled(enabled);
        priv_[row]->setEnabled(enabled);
    }
}

void PermissionsTable::nameChosen(int row, int position) {
    if (!store_ || row > 1)
        return;
    ArrayStringIndexTransformer index(row == 0 ? users_ : groups_);
    if (auto name = index.reverseTransformedValue(position))
        store_->setValue(row == 0 ? keys_.owner : keys_.group, QString::fromStdString(*name));
}

void PermissionsTable::privChosen(int row, int position) {
    if (!store_)
        return;
    // The other two digits come from the string as it is stored now, not as
    // it was when this popup was last filled.
    auto& transformer = privTransformers_[row];
    (void)transformer.transformedValue(store_->text(keys_.perms).toStdString());
    store_->setValue(keys_.perms,
                     QString::fromStdString(transformer.reverseTransformedValue(position)));
}

}  // namespace vynd
