#include "FileListModel.h"

#include <QFile>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

namespace {
const char* const kPlaceholderText = "Drag and drop files/folders here.";

std::string KeyOf(const QTreeWidgetItem* item) { return item->data(0, Qt::UserRole).toByteArray().toStdString(); }
}  // namespace

FileListModel::FileListModel(QTreeWidget* view, QIcon fileIcon) : view_(view), fileIcon_(std::move(fileIcon)) {}

void FileListModel::Reset() {
    view_->clear();
    index_.clear();
    Add(kPlaceholderKey, kPlaceholderText, QIcon());
}

bool FileListModel::HasFiles() const { return index_.find(kPlaceholderKey) == index_.end(); }

bool FileListModel::AddFile(const std::string& path) {
    // The path's bytes stay the key; the text shows them as the file system names them.
    return Add(path, QFile::decodeName(QByteArray::fromStdString(path)), fileIcon_);
}

bool FileListModel::Add(const std::string& key, const QString& text, const QIcon& icon) {
    auto [it, added] = index_.try_emplace(key, nullptr);
    if (!added) return false;
    auto* item = new QTreeWidgetItem;
    item->setText(0, text);
    item->setData(0, Qt::UserRole, QByteArray::fromStdString(key));
    if (!icon.isNull()) item->setIcon(0, icon);
    it->second = item;
    view_->addTopLevelItem(item);
    return true;
}

bool FileListModel::RemovePlaceholder() {
    auto it = index_.find(kPlaceholderKey);
    if (it == index_.end()) return false;
    QTreeWidgetItem* item = it->second;
    index_.erase(it);
    // Taken out by its row first: deleting a listed item looks its row up from the top.
    delete view_->takeTopLevelItem(view_->indexOfTopLevelItem(item));
    return true;
}

void FileListModel::RemoveRows(std::vector<int> rows) {
    // From the last to the first, so that the numbers still left stay true.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        QTreeWidgetItem* item = view_->takeTopLevelItem(row);
        if (!item) continue;
        index_.erase(KeyOf(item));
        delete item;
    }
}

int FileListModel::RowCount() const { return view_->topLevelItemCount(); }

std::string FileListModel::Key(int row) const {
    const QTreeWidgetItem* item = view_->topLevelItem(row);
    return item ? KeyOf(item) : std::string();
}

std::vector<std::string> FileListModel::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(RowCount()));
    for (int i = 0; i < RowCount(); ++i) keys.push_back(KeyOf(view_->topLevelItem(i)));
    return keys;
}
