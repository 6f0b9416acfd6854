#pragma once
// The list view of the main window's files. A tree view lays out every row
// again each time events are processed after rows were added; while a folder
// walk adds rows one by one and lets the window catch up every 100 files, that
// makes a large walk quadratic. During a walk this view lays itself out at
// most a few times a second, and less often the longer a layout takes (rows
// are only appended then, so an older layout stays valid), and fully once
// the walk is over.

#include <QElapsedTimer>
#include <QTreeView>

class FileListView : public QTreeView {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // Brackets a walk: rows are only appended between the two calls.
    void BeginAppending();
    void EndAppending();

    void doItemsLayout() override;

protected:
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    void LayOut();

    int appending_ = 0;
    bool stale_ = false;
    QElapsedTimer sinceLayout_;
    qint64 layoutMs_ = 0;
};
