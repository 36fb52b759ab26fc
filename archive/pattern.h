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

namespace kbx {

class NamePattern {
  public:
    explicit NamePattern(QStringView pattern);

    bool Matches(QStringView name) const;

  private:
    std::vector<QString> components_;  // case-folded
};

}  // namespace kbx
