#pragma once

#include "cachepass.h"

#include <QAbstractTableModel>

/// The detection dialog's result rows: address, save-as name and category, with a check box on
/// the address. Rows are only ever appended during a detection and cleared before one.
class DetectionRowModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        Address,
        SaveAs,
        Category,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// Appends the rows of `results` from position `from` on.
    void appendFrom(const DetectionResults& results, int from);
    void clear();

    const ResultRow& row(int index) const { return m_rows.at(index); }
    const QList<ResultRow>& rows() const { return m_rows; }
    void setChecked(int index, bool checked);
    void setCategory(int index, const QString& category);
    void setNote(int index, const QString& note);

private:
    QList<ResultRow> m_rows;
};
