#include "archive/edit_check.h"

#include <QHash>
#include <QSet>

#include <fcntl.h>
#include <algorithm>
#include <cerrno>

namespace kbx {

namespace {

// The directory is compared in blocks of whole records.
constexpr qint64 kRecordsPerBlock = (1 << 20) / kRecordSize;
// The longest file name most Linux file systems accept, in UTF-8 bytes.
constexpr qint64 kMaxComponentBytes = 255;

// Why `name` may not be added, apart from other entries' names.
NameRule AddedNameRule(const QString& name, QByteArray* encoded, QString* detail) {
    std::optional<QByteArray> bytes = EncodeName(name);
    if (!bytes) return NameRule::NotEncodable;
    if (bytes->size() > kNameSize) return NameRule::TooLong;
    if (NameRule rule = NameProblem(name, detail); rule != NameRule::None) return rule;
    for (const QString& part : NameComponents(name)) {
        if (part.toUtf8().size() > kMaxComponentBytes) {
            *detail = part;
            return NameRule::ComponentTooLong;
        }
    }
    *encoded = std::move(*bytes);
    return NameRule::None;
}

// The folders a name lies in, as keys: "a\b\c" gives "a" and "a\b".
QStringList FolderKeys(const QString& key) {
    QStringList folders;
    for (qsizetype at = key.indexOf(u'\\'); at >= 0; at = key.indexOf(u'\\', at + 1))
        folders << key.left(at);
    return folders;
}

}  // namespace

Failure CheckEdits(const Directory& dir, const std::vector<Edit>& edits, CheckedEdits* checked) {
    const qint64 count = dir.UpperBound();
    auto& action = checked->action;
    std::vector<Added> named;          // every name given, added or renamed to
    QHash<QString, size_t> namedKeys;  // key -> position in `named`
    QSet<QString> namedFolders;
    for (size_t e = 0; e < edits.size(); ++e) {
        const Edit& edit = edits[e];
        if (edit.kind != Edit::Kind::Add) {
            if (edit.index < 0 || edit.index >= count)
                return {Reason::NoSuchEntry, 0, NameRule::None, edit.index};
            if (!action.emplace(edit.index, e).second)
                return {Reason::EditConflict, 0, NameRule::None, edit.index, dir.Name(edit.index)};
        }
        if (!edit.Names()) continue;
        Added a{e, TypedName(edit.name), {}, {}};
        Failure bad{Reason::UnsafeName, 0, NameRule::None, -1, a.name};
        if ((bad.rule = AddedNameRule(a.name, &a.encoded, &bad.detail)) != NameRule::None)
            return bad;
        // A rename that changes nothing is a mistake, not an edit; one that
        // changes only the letter case is a rename like any other.
        if (edit.kind == Edit::Kind::Rename && a.name == dir.Name(edit.index))
            return {Reason::EditConflict, 0, NameRule::Exists, edit.index, a.name};
        a.key = NameKey(a.name);
        if (auto it = namedKeys.constFind(a.key); it != namedKeys.cend()) {
            const QString& other = named[*it].name;
            if (other == a.name) return {Reason::EditConflict, 0, NameRule::None, -1, a.name};
            bad.rule = NameRule::CaseDuplicate;
            bad.detail = other;
            return bad;
        }
        if (IsReservedFolder(a.name)) {
            bad.rule = NameRule::ReservedFolder;
            return bad;
        }
        // Pack makes entries of the files beneath Version only: a name
        // elsewhere would be lost by the next unpack and pack.
        if (!a.key.startsWith(u"version\\")) {
            bad.rule = NameRule::OutsideVersion;
            return bad;
        }
        namedKeys.insert(a.key, named.size());
        for (const QString& folder : FolderKeys(a.key)) namedFolders.insert(folder);
        named.push_back(std::move(a));
    }
    // Among the names given: one the folder of another.
    for (const Added& a : named) {
        if (namedFolders.contains(a.key))
            return {Reason::UnsafeName, 0, NameRule::FolderClash, -1, a.name, a.name};
    }
    if (named.empty()) return {};
    // Against every entry that keeps its name: one pass, whatever the number
    // of names given.
    for (qint64 i = 0; i < count; ++i) {
        if (auto it = action.find(i);
            it != action.end() && (edits[it->second].kind == Edit::Kind::Remove ||
                                   edits[it->second].kind == Edit::Kind::Rename))
            continue;
        const QString name = dir.Name(i);
        const QString key = NameKey(name);
        const auto clash = [&](size_t at, NameRule rule) {
            return Failure{Reason::UnsafeName, 0, rule, i, named[at].name, name};
        };
        if (auto it = namedKeys.constFind(key); it != namedKeys.cend())
            return clash(*it, name == named[*it].name ? NameRule::Exists : NameRule::CaseDuplicate);
        if (namedFolders.contains(key)) {
            for (size_t at = 0; at < named.size(); ++at)
                if (named[at].key.startsWith(key + u'\\')) return clash(at, NameRule::FolderClash);
        }
        for (const QString& folder : FolderKeys(key)) {
            if (auto it = namedKeys.constFind(folder); it != namedKeys.cend())
                return clash(*it, NameRule::FolderClash);
        }
    }
    for (Added& a : named) {
        const Edit& edit = edits[a.edit];
        if (edit.kind == Edit::Kind::Rename)
            checked->renamed.emplace(edit.index, std::move(a.encoded));
        else
            checked->added.push_back(std::move(a));
    }
    return {};
}

bool CheckAll(const Directory& dir, const std::vector<Edit>& edits, CheckedEdits* checked,
              Result* refusal) {
    if (Failure f = CheckEdits(dir, edits, checked); f.reason != Reason::None) {
        *refusal = Result::Unusable(std::move(f));
        return false;
    }
    qint64 removed = 0;
    for (const auto& [index, e] : checked->action) removed += edits[e].kind == Edit::Kind::Remove;
    checked->newCount = dir.UpperBound() - removed + qint64(checked->added.size());
    if (DirectoryEnd(checked->newCount) > kMaxArchiveBytes) {
        *refusal = Result::Unusable({Reason::TooLarge, 0, {}, -1, dir.ArchivePath});
        return false;
    }
    return true;
}

bool SameRecords(int fd, const Directory& dir, int* err) {
    const qint64 count = dir.UpperBound();
    QByteArray block(std::min(count, kRecordsPerBlock) * kRecordSize, Qt::Uninitialized);
    for (qint64 first = 0; first < count; first += kRecordsPerBlock) {
        const qint64 n = std::min(kRecordsPerBlock, count - first);
        if (io::ReadAt(fd, block.data(), n * kRecordSize, DirectoryEnd(first), err) !=
            n * kRecordSize)
            return false;
        for (qint64 k = 0; k < n; ++k) {
            const char* rec = block.constData() + k * kRecordSize;
            const qint64 i = first + k;
            if (ReadLE32(rec + kRecordOffsetField) != dir.EntryOffset[size_t(i)] ||
                ReadLE32(rec + kRecordSizeField) != dir.EntrySize[size_t(i)] ||
                NameBytes(QByteArrayView(rec + kRecordNameField, kNameSize)) != dir.EntryName[i])
                return false;
        }
    }
    return true;
}

bool OutputError(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG || err == EROFS;
}

Failure OpenSource(const QString& path, io::Fd* fd, struct stat* st) {
    const QByteArray native = io::NativePath(path);
    *fd = io::Fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!*fd || ::fstat(fd->get(), st) != 0) return {Reason::CannotOpenFile, errno};
    if (!S_ISREG(st->st_mode)) return {Reason::NotRegularFile, S_ISDIR(st->st_mode) ? EISDIR : 0};
    return {};
}

Failure SourceUnchanged(int fd, const struct stat& before, long long copied) {
    struct stat after {};
    if (::fstat(fd, &after) != 0) return {Reason::ReadFailed, errno};
    if (copied != before.st_size || !io::SameFileState(before, after)) return {Reason::FileChanged};
    return {};
}

}  // namespace kbx
