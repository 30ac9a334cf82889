#pragma once

#include "abstractlistmodel.h"
#include "playlistmodelitem.h"

#include <QHash>
#include <QPair>
#include <QUrl>
#include <QVector>

// The channel / file playlist. Lookups by id and by URL are O(1): an index is kept in
// step with every change of the list.
class PlaylistModel : public AbstractListModel<PlaylistModelItem>
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Roles {
        IdRole = Qt::UserRole + 1,   // 257
        TitleRole,                   // 258: the search proxy filters on it
        UrlRole,                     // 259
        GroupRole,                   // 260
        FavouriteRole,               // 261: the favourites proxy matches its text "true"
        SelectedRole,                // 262
        JtvRole,                     // 263
        AspectRole,                  // 264
        FileIdRole,                  // 265
    };
    Q_ENUM(Roles)

    explicit PlaylistModel(bool uniqueCheck = false, QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    bool setData(int row, const QVariant &value, int role);
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return m_items.size(); }

    void clear();
    // Takes ownership. With the unique check on, an item whose URL is already present is
    // rejected: it is deleted and false is returned.
    bool append(PlaylistModelItem *item);
    // Appends in order; returns how many were taken.
    int append(const QList<PlaylistModelItem *> &items);
    // Removes and deletes the row.
    bool removeAt(int row);

    PlaylistModelItem *itemById(int id) const;
    PlaylistModelItem *itemByUrl(const QUrl &url) const;
    int rowById(int id) const;  // -1 when unknown

    // Neighbours by row. cycle false: at the last row nextItem returns the entry itself
    // (the end), at the first row prevItem returns the entry itself; cycle true wraps.
    // An unknown id gives null.
    PlaylistModelItem *nextItem(int id, bool cycle) const;
    PlaylistModelItem *prevItem(int id, bool cycle) const;

    Q_INVOKABLE void selectItem(int id);
    Q_INVOKABLE void unselectAll();
    Q_INVOKABLE int selectedItemId() const;  // -1 when none is selected
    Q_INVOKABLE bool deleteSelectedItem();

signals:
    void countChanged();

private:
    void rebuildIndex() const;
    void indexRows(int from) const;  // adds the keys of the rows from "from" on
    void ensureIndex() const;
    void adopt(PlaylistModelItem *item);
    void onItemChanged();
    void setCount(int before);

    // Rebuilt lazily when an item's id or URL changes behind the model's back.
    mutable QHash<int, int> m_rowById;        // id -> first row with that id
    mutable QHash<QUrl, int> m_rowByUrl;      // url -> first row with that url
    mutable QVector<QPair<int, QUrl>> m_keys; // (id, url) of each row as indexed
    mutable bool m_indexDirty = false;
    int m_selectedId = -1;
    bool m_settingData = false;
};
