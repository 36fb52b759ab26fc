#pragma once
// Hands a link to the desktop: a mailto: address opens the user's mail
// program with a new message to it.

#include <QUrl>

class ShellService {
  public:
    virtual ~ShellService() = default;
    // False when the desktop could not start a handler for the link.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// QDesktopServices::openUrl.
class QtShellService final : public ShellService {
  public:
    bool OpenUrl(const QUrl& url) override;
};
