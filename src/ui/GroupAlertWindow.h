#pragma once

#include "engine/MonitorView.h"

#include <QAbstractTableModel>
#include <QLocale>
#include <QWidget>

#include <vector>

class QLabel;
class QTableView;

namespace sentrel {

// The problems listed in a grouped alert: Host, Status, Information, Time.
class ProblemListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ProblemListModel(const QLocale &locale, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void append(const ProblemAlert &problem);
    const ProblemAlert &problem(int row) const { return m_problems.at(static_cast<size_t>(row)); }

private:
    QLocale m_locale;
    std::vector<ProblemAlert> m_problems;
};

// One alert window for many problems (`frmalerts`), for "Group alerts": every problem
// raised while it is open is added to its list, and one "Acknowledge" closes it for all.
// Like the single alert it stays on top without taking focus, and only the button closes it.
class GroupAlertWindow : public QWidget
{
    Q_OBJECT
public:
    explicit GroupAlertWindow(const QLocale &locale = QLocale::system());

    // Adds a problem to the list and keeps the window shown on top, without activating it.
    void add(const ProblemAlert &problem);
    int problemCount() const;
    const ProblemListModel &problems() const { return m_model; }

    // "Acknowledge": closes the window.
    void acknowledge();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void fitColumns(int row);

    ProblemListModel m_model;
    QLabel *m_count = nullptr;
    QTableView *m_list = nullptr;
    bool m_acknowledged = false;
    bool m_scrollPending = false;
    bool m_painted = false;
};

} // namespace sentrel
