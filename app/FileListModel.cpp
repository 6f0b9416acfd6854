#include "FileListModel.h"

#include <QFile>
#include <QHashFunctions>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {
const char* const kPlaceholderText = "Drag and drop files/folders here.";
constexpr size_t kSmallestIndex = 1024;
}  // namespace

FileListModel::FileListModel(QIcon fileIcon, QObject* parent)
    : QAbstractListModel(parent), fileIcon_(std::move(fileIcon)), seed_(QHashSeed::globalSeed()) {}

void FileListModel::Reset() {
    beginResetModel();
    bytes_.clear();
    starts_ = {0};
    slots_.clear();
    used_ = 0;
    placeholder_ = true;
    endResetModel();
}

std::string_view FileListModel::Path(int file) const {
    const qsizetype at = file < gapAt_ ? file : qsizetype(file) + gap_;
    return std::string_view(bytes_.constData() + starts_[at], size_t(starts_[at + 1] - starts_[at]));
}

quint32 FileListModel::Hash(std::string_view key) const {
    // Seeded per process, so that no set of names can be made to collide.
    const quint64 h = qHash(QByteArrayView(key.data(), qsizetype(key.size())), seed_);
    return quint32(h ^ (h >> 32));
}

qsizetype FileListModel::Find(std::string_view key, quint32 hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.filePlusOne == 0 || (slot.hash == hash && Path(int(slot.filePlusOne - 1)) == key))
            return qsizetype(at);
    }
}

void FileListModel::Place(Slot slot) {
    const size_t mask = slots_.size() - 1;
    size_t at = slot.hash & mask;
    while (slots_[at].filePlusOne != 0) at = (at + 1) & mask;
    slots_[at] = slot;
}

void FileListModel::GrowIndex() {
    std::vector<Slot> old(std::max(kSmallestIndex, 2 * slots_.size()));
    old.swap(slots_);
    for (const Slot& slot : old)
        if (slot.filePlusOne != 0) Place(slot);
}

void FileListModel::RebuildIndex() {
    size_t size = kSmallestIndex;
    while (size < 2 * size_t(Files()) + 2) size *= 2;
    slots_.assign(size, Slot{});
    for (int file = 0; file < Files(); ++file) Place({quint32(file) + 1, Hash(Path(file))});
    used_ = Files();
}

bool FileListModel::AddFile(std::string_view path) {
    if (RowCount() == std::numeric_limits<int>::max()) return false;
    if (2 * size_t(used_ + 1) > slots_.size()) GrowIndex();
    const quint32 hash = Hash(path);
    const qsizetype at = Find(path, hash);
    if (slots_[size_t(at)].filePlusOne != 0) return false;
    const int row = RowCount();
    beginInsertRows(QModelIndex(), row, row);
    bytes_.append(path.data(), qsizetype(path.size()));
    starts_.append(bytes_.size());
    slots_[size_t(at)] = {quint32(Files()), hash};
    ++used_;
    endInsertRows();
    return true;
}

bool FileListModel::RemovePlaceholder() {
    if (!placeholder_) return false;
    beginRemoveRows(QModelIndex(), 0, 0);
    placeholder_ = false;
    endRemoveRows();
    return true;
}

// Moves the files stored from gapAt_ + gap_ up to `upTo` down to gapAt_.
void FileListModel::MoveDown(int upTo) {
    const int from = gapAt_ + gap_;
    if (gap_ > 0 && upTo > from) {
        const qsizetype delta = starts_[from] - starts_[gapAt_];
        qsizetype* starts = starts_.data();
        char* bytes = bytes_.data();
        std::memmove(bytes + starts[gapAt_], bytes + starts[from], size_t(starts[upTo] - starts[from]));
        for (int i = 1; i <= upTo - from; ++i) starts[gapAt_ + i] = starts[from + i] - delta;
    }
    gapAt_ += upTo - from;
}

void FileListModel::RemoveRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return row < 0 || row >= RowCount(); }),
               rows.end());
    if (rows.empty()) return;
    if (placeholder_ && rows.front() == 0) {
        RemovePlaceholder();
        rows.erase(rows.begin());
        for (int& row : rows) --row;
    }
    // One pass from the first row to the last, each run of neighbouring rows
    // told to the views as one removal: the files kept move down over the gap
    // as it grows, so that every row number stays true between two removals.
    const int shown = Shown();
    for (size_t i = 0; i < rows.size();) {
        const int first = rows[i] - shown;
        int last = first;
        while (++i < rows.size() && rows[i] - shown == last + 1) ++last;
        MoveDown(first);
        const int row = shown + gapAt_;
        beginRemoveRows(QModelIndex(), row, row + (last - first));
        gap_ += last - first + 1;
        endRemoveRows();
    }
    MoveDown(int(starts_.size()) - 1);
    starts_.resize(gapAt_ + 1);
    bytes_.resize(starts_[gapAt_]);
    gapAt_ = gap_ = 0;
    RebuildIndex();
}

std::string FileListModel::Key(int row) const {
    if (row < 0 || row >= RowCount()) return {};
    if (row < Shown()) return kPlaceholderKey;
    return std::string(Path(row - Shown()));
}

std::vector<std::string> FileListModel::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(size_t(RowCount()));
    if (placeholder_) keys.emplace_back(kPlaceholderKey);
    for (int file = 0; file < Files(); ++file) keys.emplace_back(Path(file));
    return keys;
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0 || index.row() >= RowCount()) return {};
    const bool text = role == Qt::DisplayRole || role == Qt::EditRole;
    if (index.row() < Shown()) return text ? QVariant(QString::fromLatin1(kPlaceholderText)) : QVariant();
    if (role == Qt::DecorationRole) return fileIcon_;
    if (!text) return {};
    // The key's bytes stay the key; the text shows them as the file system names them.
    const std::string_view path = Path(index.row() - Shown());
    return QFile::decodeName(QByteArray::fromRawData(path.data(), qsizetype(path.size())));
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole) &&
        !caption_.isNull())
        return caption_;
    return QAbstractListModel::headerData(section, orientation, role);
}

bool FileListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
    if (section != 0 || orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    caption_ = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}
