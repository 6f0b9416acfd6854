#include "FileListModel.h"

#include "QtMsgBox.h"

#include <QFile>
#include <QHashFunctions>
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {
const char* const kPlaceholderText = "Drag and drop files/folders here.";
constexpr size_t kSmallestIndex = 1024;
// More runs of removed rows than a user selects by hand.
constexpr size_t kMostRemovals = 100;

// A key as folder part (up to and with its last '/') and name part.
std::pair<std::string_view, std::string_view> Split(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
    return {path.substr(0, cut), path.substr(cut)};
}

QByteArrayView View(std::string_view bytes) { return QByteArrayView(bytes.data(), qsizetype(bytes.size())); }
}  // namespace

FileListModel::FileListModel(QIcon fileIcon, QObject* parent)
    : QAbstractListModel(parent), fileIcon_(std::move(fileIcon)), seed_(QHashSeed::globalSeed()) {}

void FileListModel::Reset() {
    beginResetModel();
    folders_.clear();
    folderStarts_ = {0};
    folderHashes_.clear();
    names_.clear();
    nameStarts_ = {0};
    folderOf_.clear();
    slots_.clear();
    used_ = 0;
    placeholder_ = true;
    endResetModel();
}

std::string_view FileListModel::Folder(quint32 folder) const {
    return std::string_view(folders_.constData() + folderStarts_[folder],
                            size_t(folderStarts_[folder + 1] - folderStarts_[folder]));
}

std::string_view FileListModel::Name(qsizetype at) const {
    return std::string_view(names_.constData() + nameStarts_[at], size_t(nameStarts_[at + 1] - nameStarts_[at]));
}

std::string FileListModel::Path(int file) const {
    const qsizetype at = At(file);
    return std::string(Folder(folderOf_[at])).append(Name(at));
}

quint32 FileListModel::Hash(size_t folderHash, std::string_view name) const {
    const quint64 h = qHash(View(name), folderHash);
    return quint32(h ^ (h >> 32));
}

size_t FileListModel::Find(std::string_view folder, std::string_view name, quint32 hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.filePlusOne == 0) return at;
        if (slot.hash != hash) continue;
        const qsizetype file = At(int(slot.filePlusOne - 1));
        if (Name(file) == name && Folder(folderOf_[file]) == folder) return at;
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
    for (int file = 0; file < Files(); ++file)
        Place({quint32(file) + 1, Hash(folderHashes_[folderOf_[file]], Name(file))});
    used_ = Files();
}

bool FileListModel::AddFile(std::string_view path) {
    if (RowCount() == std::numeric_limits<int>::max()) return false;
    const auto [folder, name] = Split(path);
    quint32 folderId = quint32(folderHashes_.size());
    const bool sameFolder = folderId > 0 && Folder(folderId - 1) == folder;
    // Seeded per process, so that no set of names can be made to collide.
    const size_t folderHash = sameFolder ? folderHashes_[--folderId] : qHash(View(folder), seed_);
    if (2 * size_t(used_ + 1) > slots_.size()) GrowIndex();
    const quint32 hash = Hash(folderHash, name);
    const size_t at = Find(folder, name, hash);
    if (slots_[at].filePlusOne != 0) return false;
    if (!sameFolder) {
        folders_.append(View(folder));
        folderStarts_.append(folders_.size());
        folderHashes_.append(folderHash);
    }
    const int row = RowCount();
    beginInsertRows(QModelIndex(), row, row);
    names_.append(View(name));
    nameStarts_.append(names_.size());
    folderOf_.append(folderId);
    slots_[at] = {quint32(Files()), hash};
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
        qsizetype* starts = nameStarts_.data();
        const qsizetype delta = starts[from] - starts[gapAt_];
        char* bytes = names_.data();
        std::memmove(bytes + starts[gapAt_], bytes + starts[from], size_t(starts[upTo] - starts[from]));
        for (int i = 1; i <= upTo - from; ++i) starts[gapAt_ + i] = starts[from + i] - delta;
        quint32* folders = folderOf_.data();
        std::memmove(folders + gapAt_, folders + from, sizeof(quint32) * size_t(upTo - from));
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
    // Each removal costs Qt a look at every persistent index the model has
    // ever had at once (as many as a large selection's ranges), so many runs
    // are told as one reset instead.
    size_t runs = 1;
    for (size_t i = 1; i < rows.size(); ++i) runs += rows[i] != rows[i - 1] + 1;
    const bool reset = runs > kMostRemovals;
    if (reset) beginResetModel();
    const int shown = Shown();
    for (size_t i = 0; i < rows.size();) {
        const int first = rows[i] - shown;
        int last = first;
        while (++i < rows.size() && rows[i] - shown == last + 1) ++last;
        MoveDown(first);
        const int row = shown + gapAt_;
        if (!reset) beginRemoveRows(QModelIndex(), row, row + (last - first));
        gap_ += last - first + 1;
        if (!reset) endRemoveRows();
    }
    MoveDown(int(nameStarts_.size()) - 1);
    nameStarts_.resize(gapAt_ + 1);
    names_.resize(nameStarts_[gapAt_]);
    folderOf_.resize(gapAt_);
    gapAt_ = gap_ = 0;
    RebuildIndex();
    if (reset) endResetModel();
}

std::string FileListModel::Key(int row) const {
    if (row < 0 || row >= RowCount()) return {};
    if (row < Shown()) return kPlaceholderKey;
    return Path(row - Shown());
}

std::vector<std::string> FileListModel::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(size_t(RowCount()));
    if (placeholder_) keys.emplace_back(kPlaceholderKey);
    for (int file = 0; file < Files(); ++file) keys.push_back(Path(file));
    return keys;
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0 || index.row() >= RowCount()) return {};
    const bool text = role == Qt::DisplayRole || role == Qt::EditRole;
    if (index.row() < Shown()) return text ? QVariant(QString::fromLatin1(kPlaceholderText)) : QVariant();
    if (role == Qt::DecorationRole) return fileIcon_;
    if (!text) return {};
    // The key's bytes stay the key; the text shows them as the file system
    // names them, with nothing in them that could hide or reorder what is shown.
    const std::string path = Path(index.row() - Shown());
    return vxqt::ShownText(QFile::decodeName(QByteArray::fromRawData(path.data(), qsizetype(path.size()))));
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
