#pragma once
// Shell-style patterns over entry names, matched as the game's file system
// compares names: letter case ignored, "/" and "\" both separating folders.
//
//   *       any run of characters within one folder or file name
//   ?       one character other than a separator
//   [abc]   one of the characters; [a-z] a range; [!abc] or [^abc] none of them
//   **      as a whole component: any number of folders, none included
//
// A pattern also matches every name beneath a folder it matches, so
// "Version/Data" selects all the entries in that folder. A "[" without its
// closing "]" stands for itself.

#include <QString>
#include <QStringList>

#include <vector>

#include "archive/directory.h"

namespace kbx {

class NamePattern {
  public:
    explicit NamePattern(QStringView pattern);

    bool Matches(QStringView name) const;

  private:
    std::vector<QString> components_;  // case-folded
};

// What one argument of a command selects in a directory.
struct ArgumentMatch {
    std::vector<qint64> entries;  // directory indexes, in directory order
    bool byName = false;          // the argument is an entry's name, not a pattern
};

// Matches each argument against the directory in one pass, whatever their
// number. An argument that is an entry's name as a user types it (TypedName:
// "/" or "\" between folders, letter case ignored) selects the entries of
// that name, and only those of exactly its letter case where there are
// some: "a[1].dds" selects the entry "a[1].dds", never "a1.dds". Every other
// argument is a pattern (see NamePattern); "[[]" forces one.
std::vector<ArgumentMatch> MatchArguments(const Directory& dir,
                                          const std::vector<QString>& arguments);

}  // namespace kbx
