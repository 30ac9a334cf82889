#pragma once

#include <QAbstractListModel>
#include <QList>

// List model owning a list of item pointers. A template cannot carry Q_OBJECT, so the
// concrete models derive from it and add their roles, signals and invokables.
template <class Item>
class AbstractListModel : public QAbstractListModel
{
public:
    // uniqueCheck: reject appends whose item compares equal to one already present
    // (the derived model decides what equal means).
    explicit AbstractListModel(bool uniqueCheck = false, QObject *parent = nullptr)
        : QAbstractListModel(parent), m_uniqueCheck(uniqueCheck) {}
    ~AbstractListModel() override { qDeleteAll(m_items); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_items.size();
    }

    Item *item(int row) const
    {
        return row >= 0 && row < m_items.size() ? m_items.at(row) : nullptr;
    }

    const QList<Item *> &items() const { return m_items; }

    void setUniqueCheck(bool on) { m_uniqueCheck = on; }
    bool uniqueCheck() const { return m_uniqueCheck; }

protected:
    QList<Item *> m_items;
    bool m_uniqueCheck;
};
