#include "FileListView.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {
constexpr qint64 kLayoutIntervalMs = 200;
// A layout may take this share of a walk's time at most.
constexpr qint64 kLayoutShare = 10;

// Every row as high as a row with an icon. Rows are all as high as the first
// (uniform row heights, for long lists), and the first may be the placeholder,
// which has no icon: the files' icons would be clipped.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.features |= QStyleOptionViewItem::HasDecoration;
        const QWidget* view = option.widget;
        const QStyle* style = view ? view->style() : QApplication::style();
        return style->sizeFromContents(QStyle::CT_ItemViewItem, &item, QSize(), view);
    }
};
}  // namespace

FileListView::FileListView(QWidget* parent) : QTreeView(parent) {
    // The column's caption names it; clicking it does nothing.
    header()->setSectionsClickable(false);
    setItemDelegate(new RowDelegate(this));
    sinceLayout_.start();
}

void FileListView::BeginAppending() { ++appending_; }

void FileListView::EndAppending() {
    if (appending_ > 0) --appending_;
    if (appending_ == 0 && stale_) LayOut();
}

void FileListView::doItemsLayout() {
    if (appending_ > 0 && sinceLayout_.elapsed() < std::max(kLayoutIntervalMs, kLayoutShare * layoutMs_)) {
        stale_ = true;  // the rows laid out so far are still where they were
        return;
    }
    LayOut();
}

void FileListView::LayOut() {
    stale_ = false;
    QElapsedTimer took;
    took.start();
    QTreeView::doItemsLayout();
    layoutMs_ = took.elapsed();
    sinceLayout_.restart();
}

// Removing rows invalidates an older layout: catch up before anything else.
void FileListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    if (stale_) LayOut();
    QTreeView::rowsAboutToBeRemoved(parent, start, end);
}
