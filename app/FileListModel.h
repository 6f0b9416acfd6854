#pragma once
// The rows of the main window's file list: one file entry per full path, in
// the order they were added, or the placeholder row alone while there is
// none. This class alone knows how rows are stored, keyed and looked up; the
// window speaks to it in keys and row numbers, and to the view's selection.

#include <QIcon>
#include <string>
#include <unordered_map>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

class FileListModel {
public:
    // Key of the placeholder row.
    static constexpr const char* kPlaceholderKey = "dummy";

    // Rows go into `view`; file entries show `fileIcon`.
    FileListModel(QTreeWidget* view, QIcon fileIcon);

    // No file entries: the placeholder row alone.
    void Reset();
    // Whether the list holds a file entry (no placeholder row).
    bool HasFiles() const;
    // Adds a file entry; false when its path is listed already.
    bool AddFile(const std::string& path);
    // Takes the placeholder row out; false when it is not there.
    bool RemovePlaceholder();
    // Removes the rows with these numbers, in any order.
    void RemoveRows(std::vector<int> rows);

    int RowCount() const;
    std::string Key(int row) const;
    // Every row's key, in list order (the placeholder's included).
    std::vector<std::string> Keys() const;

private:
    bool Add(const std::string& key, const QString& text, const QIcon& icon);

    QTreeWidget* view_;
    QIcon fileIcon_;
    std::unordered_map<std::string, QTreeWidgetItem*> index_;
};
