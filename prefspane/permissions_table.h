// One area's table of owner, group and everyone with their access popups.
#pragma once

#include <QComboBox>
#include <QTableWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "prefspane/settings_store.h"
#include "transformers/value_transformers.h"

namespace vynd {

// Three rows (owner, group, everyone), two columns ("name" and "priv") of
// popups. The table holds no values: each popup shows and edits a settings
// key through its transformer, and is re-read from the store whenever the
// store changes.
class PermissionsTable : public QTableWidget {
    Q_OBJECT

  public:
    struct Keys {
        QString owner;
        QString group;
        QString perms;
        QString enabling;
    };
    using Names = ArrayStringIndexTransformer::Names;

    explicit PermissionsTable(QWidget* parent = nullptr);

    // The owner and group popups break after this many names: those people
    // use, ahead of the system's own accounts.
    void setCommonNames(size_t users, size_t groups) { common_ = {users, groups}; }
    void configure(SettingsStore* store, Keys keys, std::shared_ptr<const Names> users,
                   std::shared_ptr<const Names> groups);
    void setAuthorized(bool authorized);
    // Names the popups after the area, for whoever cannot see the table.
    void setAreaName(const QString& area);
    // Fills every popup from the store and the name lists.
    void refresh();

    [[nodiscard]] static int numberOfRowsInTableView() { return 3; }
    [[nodiscard]] QComboBox* nameCell(int row) const { return name_[row]; }
    [[nodiscard]] QComboBox* privCell(int row) const { return priv_[row]; }

    static const QStringList& permissionEntries();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void fitHeight();
    // Where the break between common and other names stands in row's popup,
    // or -1 when it has none.
    [[nodiscard]] int breakAt(int row) const;
    void labelFor(QComboBox* box);
    void nameChosen(int row, int position);
    void privChosen(int row, int position);

    SettingsStore* store_ = nullptr;
    Keys keys_;
    std::shared_ptr<const Names> users_ = std::make_shared<Names>();
    std::shared_ptr<const Names> groups_ = std::make_shared<Names>();
    bool authorized_ = false;
    std::array<size_t, 2> common_{};
    std::array<QComboBox*, 3> name_{};
    std::array<QComboBox*, 3> priv_{};
    std::array<PermissionsValueTransformer, 3> privTransformers_{PermissionsValueTransformer(0),
                                                                 PermissionsValueTransformer(1),
                                                                 PermissionsValueTransformer(2)};
};

}  // namespace vynd
