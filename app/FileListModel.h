#pragma once
// The rows of the main window's file list: one file entry per full path, in
// the order they were added, or the placeholder row alone while there is
// none. This class alone knows how rows are stored, keyed and looked up; the
// window speaks to it in keys and row numbers, the view through the item
// model interface.
//
// A list may hold a million paths, so a file entry costs little more than its
// name: each key is kept split after its last '/', the folder part once for
// all the files that are added one after another from the same folder, as a
// walk adds them. The text a view shows is made only for the rows it asks
// about, and all file entries share one icon.

#include <QAbstractListModel>
#include <QByteArray>
#include <QIcon>
#include <QList>
#include <string>
#include <string_view>
#include <vector>

class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Key of the placeholder row.
    static constexpr const char* kPlaceholderKey = "dummy";

    // File entries show `fileIcon`.
    explicit FileListModel(QIcon fileIcon, QObject* parent = nullptr);

    // No file entries: the placeholder row alone.
    void Reset();
    // Whether the list holds a file entry (no placeholder row).
    bool HasFiles() const { return !placeholder_; }
    // Adds a file entry; false when its path is listed already.
    bool AddFile(std::string_view path);
    // Takes the placeholder row out; false when it is not there.
    bool RemovePlaceholder();
    // Removes the rows with these numbers, in any order.
    void RemoveRows(std::vector<int> rows);

    int RowCount() const { return Shown() + Files(); }
    std::string Key(int row) const;
    // Every row's key, in list order (the placeholder's included).
    std::vector<std::string> Keys() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The one column's caption.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

private:
    // A slot of the key index: a file's number plus one (0: a free slot) and
    // its key's hash, which places it and tells most other keys apart unread.
    struct Slot {
        quint32 filePlusOne = 0;
        quint32 hash = 0;
    };

    int Shown() const { return placeholder_ ? 1 : 0; }
    int Files() const { return static_cast<int>(nameStarts_.size()) - 1 - gap_; }
    // Where file `file` is stored.
    qsizetype At(int file) const { return file < gapAt_ ? file : qsizetype(file) + gap_; }
    std::string_view Folder(quint32 folder) const;
    std::string_view Name(qsizetype at) const;
    std::string Path(int file) const;
    quint32 Hash(size_t folderHash, std::string_view name) const;
    // The slot that holds the key, or the free slot where it would go.
    size_t Find(std::string_view folder, std::string_view name, quint32 hash) const;
    void Place(Slot slot);
    void GrowIndex();
    void RebuildIndex();
    void MoveDown(int upTo);

    QIcon fileIcon_;
    QString caption_;
    bool placeholder_ = false;
    // Folder parts (each ending in '/', or empty), one after the other:
    // folder f is the bytes from folderStarts_[f] to folderStarts_[f + 1].
    QByteArray folders_;
    QList<qsizetype> folderStarts_{0};
    QList<size_t> folderHashes_;
    // Name parts likewise, and the folder of each file.
    QByteArray names_;
    QList<qsizetype> nameStarts_{0};
    QList<quint32> folderOf_;
    // While RemoveRows works: files from gapAt_ on are stored gap_ places further.
    int gapAt_ = 0;
    int gap_ = 0;
    // Open addressing with linear probing, never more than half full.
    std::vector<Slot> slots_;
    qsizetype used_ = 0;
    size_t seed_;
};
