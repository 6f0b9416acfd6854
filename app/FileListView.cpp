#include "FileListView.h"

namespace {
constexpr qint64 kLayoutIntervalMs = 200;
}

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent) { sinceLayout_.start(); }

void FileListView::BeginAppending() { ++appending_; }

void FileListView::EndAppending() {
    if (appending_ > 0) --appending_;
    if (appending_ == 0 && stale_) doItemsLayout();
}

void FileListView::doItemsLayout() {
    if (appending_ > 0 && sinceLayout_.elapsed() < kLayoutIntervalMs) {
        stale_ = true;  // the rows laid out so far are still where they were
        return;
    }
    stale_ = false;
    QTreeWidget::doItemsLayout();
    sinceLayout_.restart();
}

// Removing rows invalidates an older layout: catch up before anything else.
void FileListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    if (stale_) {
        stale_ = false;
        QTreeWidget::doItemsLayout();
        sinceLayout_.restart();
    }
    QTreeWidget::rowsAboutToBeRemoved(parent, start, end);
}
