#pragma once
// Icons as 32-bit handles: the dialog wrapper keeps and passes icons as
// numbers, and this table turns a number back into the icon. Handle 0 is
// never given out; it means "no icon" (the program's own where one is shown).

#include <QHash>
#include <QIcon>

class IconHandleTable {
  public:
    // A new handle for `icon`.
    quint32 Add(const QIcon& icon);
    // The icon of `handle`; a null icon for 0 or a handle not in the table.
    QIcon Icon(quint32 handle) const { return icons_.value(handle); }
    bool Contains(quint32 handle) const { return icons_.contains(handle); }
    // A new handle for the same icon, or 0 when `handle` is not in the table.
    quint32 CopyIcon(quint32 handle);
    // Releases `handle`; false when it is not in the table.
    bool DestroyIcon(quint32 handle) { return icons_.remove(handle); }
    qsizetype size() const { return icons_.size(); }

  private:
    QHash<quint32, QIcon> icons_;
    quint32 next_ = 0x00010000;
};

// The table shared by the whole program.
IconHandleTable& ProgramIcons();
