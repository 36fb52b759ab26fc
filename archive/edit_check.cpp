#include "archive/edit_check.h"

#include <QHash>
#include <QSet>

#include <fcntl.h>
#include <algorithm>
#include <cerrno>

namespace kbx {

namespace {

// Why `name` may not be added, apart from other entries' names.
NameRule AddedNameRule(const QString& name, QByteArray* encoded, QString* detail) {
    std::optional<QByteArray> bytes = EncodeName(name);
    if (!bytes) return NameRule::NotEncodable;
    if (bytes->size() > kNameSize) return NameRule::TooLong;
    if (NameRule rule = NameProblem(name, detail); rule != NameRule::None) return rule;
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
    const qint64 count = dir.Count();
    auto& action = checked->action;
    std::vector<Added> named;          // every name given, added or renamed to
    QHash<QString, size_t> namedKeys;  // key -> position in `named`
    QSet<QString> namedFolders;
    for (size_t e = 0; e < edits.size(); ++e) {
        const Edit& edit = edits[e];
        if (edit.kind != Edit::Kind::Add) {
            if (edit.index < 0 || edit.index >= count)
                return Failure::Entry(Reason::NoSuchEntry, 0, edit.index, {});
            if (!action.emplace(edit.index, e).second)
                return Failure::Entry(Reason::EditConflict, 0, edit.index, dir.Name(edit.index));
        }
        if (!edit.Names()) continue;
        Added a{e, TypedName(edit.name), {}, {}};
        Failure bad = Failure::Name(NameRule::None, a.name);
        if ((bad.rule = AddedNameRule(a.name, &a.encoded, &bad.detail)) != NameRule::None)
            return bad;
        // A rename that changes nothing is a mistake, not an edit; one that
        // changes only the letter case is a rename like any other.
        if (edit.kind == Edit::Kind::Rename && a.name == dir.Name(edit.index))
            return {Reason::EditConflict, 0, NameRule::Exists, edit.index, a.name};
        a.key = NameKey(a.name);
        if (auto it = namedKeys.constFind(a.key); it != namedKeys.cend()) {
            const QString& other = named[*it].name;
            if (other == a.name) return Failure::Entry(Reason::EditConflict, 0, -1, a.name);
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
            return Failure::Name(NameRule::FolderClash, a.name, a.name);
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
            return Failure::Name(rule, named[at].name, name, i);
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

Failure CheckAll(const Directory& dir, const std::vector<Edit>& edits, CheckedEdits& checked) {
    if (Failure f = CheckEdits(dir, edits, &checked); f.reason != Reason::None) return f;
    qint64 removed = 0;
    for (const auto& [index, e] : checked.action) removed += edits[e].kind == Edit::Kind::Remove;
    checked.newCount = dir.Count() - removed + qint64(checked.added.size());
    if (DirectoryEnd(checked.newCount) > kMaxArchiveBytes)
        return Failure::Path(Reason::TooLarge, 0, dir.ArchivePath);
    return {};
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

qint64 SourceSize(const QString& path, qint64 known) {
    if (known >= 0) return known;
    struct stat st {};
    if (path.isEmpty() || ::stat(io::NativePath(path).constData(), &st) != 0 ||
        !S_ISREG(st.st_mode))
        return 0;
    return st.st_size;
}

Failure SourceUnchanged(int fd, const struct stat& before, long long copied) {
    struct stat after {};
    if (::fstat(fd, &after) != 0) return {Reason::ReadFailed, errno};
    if (copied != before.st_size || !io::SameFileState(before, after)) return {Reason::FileChanged};
    return {};
}

}  // namespace kbx
