// One area's table of owner, group and everyone with their access popups.
#include "prefspane/permissions_table.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>

namespace vynd {

namespace {

void setEntries(QComboBox* box, const QStringList& entries, int breakAt = -1) {
    QStringList want = entries;
    if (breakAt >= 0)
        want.insert(breakAt, QString());
    QStringList now;
    for (int i = 0; i < box->count(); ++i) now << box->itemText(i);
    if (now != want) {
        box->clear();
        box->addItems(entries);
        if (breakAt >= 0)
            box->insertSeparator(breakAt);
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
    // Tab goes from popup to popup and then on out of the table, as in any
    // form; arrow keys stay with the popup that has the focus.
    setTabKeyNavigation(false);
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
    // The everyone row names nobody to choose; its access popup says it all.
    name_[2]->setFocusPolicy(Qt::NoFocus);
    setAreaName(QString());
    fitHeight();
}

int PermissionsTable::breakAt(int row) const {
    const size_t common = common_[row];
    const size_t count = (row == 0 ? users_ : groups_)->size();
    return common > 0 && common < count ? static_cast<int>(common) : -1;
}

void PermissionsTable::fitHeight() {
    // Rows as tall as the popups in them, whatever the style and font.
    resizeRowsToContents();
    int height = horizontalHeader()->sizeHint().height() + 2 * frameWidth();
    for (int row = 0; row < 3; ++row) height += rowHeight(row);
    setFixedHeight(height);
}

void PermissionsTable::changeEvent(QEvent* event) {
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)
        fitHeight();
}

void PermissionsTable::labelFor(QComboBox* box) {
    QLabel* label = nullptr;
    for (QLabel* l :
         box->parentWidget()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        if (l->buddy() == box)
            label = l;
    if (!label) {
        label = new QLabel(box->parentWidget());
        label->hide();
        label->setBuddy(box);
    }
    label->setText(box->accessibleName());
}

void PermissionsTable::setAreaName(const QString& area) {
    const QString in = area.isEmpty() ? QString() : tr(" in %1").arg(area);
    const QString who[3] = {tr("Owner"), tr("Group"), tr("Everyone")};
    for (int row = 0; row < 3; ++row) {
        name_[row]->setAccessibleName(who[row] + in);
        priv_[row]->setAccessibleName(tr("%1's access").arg(who[row]) + in);
    }
    // Some screen readers name a popup by its value and take what it is for
    // from the label that points at it; the table shows no such labels, so
    // each popup has an unseen one.
    for (QComboBox* box : name_) labelFor(box);
    for (QComboBox* box : priv_) labelFor(box);
    name_[0]->setToolTip(tr("The user who will own what vynd installs here."));
    name_[1]->setToolTip(tr("The group of what vynd installs here."));
    for (int row = 0; row < 3; ++row)
        priv_[row]->setToolTip(tr("What %1 may do with it.")
                                   .arg(row == 0   ? tr("the owner")
                                        : row == 1 ? tr("the group's members")
                                                   : tr("everyone else")));
    setAccessibleName(tr("Owner, group and access") + in);
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
            const int at = breakAt(row);
            setEntries(name_[row], toStringList(*names), at);
            ArrayStringIndexTransformer index(names);
            auto position = index.transformedValue(
                store_->text(row == 0 ? keys_.owner : keys_.group).toStdString());
            if (position && at >= 0 && *position >= at)
                ++*position;
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
    const int at = breakAt(row);
    if (at >= 0 && position >= at) {
        if (position == at)
            return;  // the break itself
        --position;
    }
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
