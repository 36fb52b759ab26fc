#pragma once
// Everything kbx prints goes through here: text from an archive or the file
// system is quoted so that no control character reaches a terminal, a failed
// write to stdout is remembered, and a progress line on a terminal is erased
// before any other output.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>

namespace cli {

// `text` with every control character (C0, DEL, C1) and every character that
// reorders or breaks lines (bidirectional overrides, line and paragraph
// separators) shown as a visible escape: \x1b, \u0085, \u202e. The result is
// one line and shows every character the archive's author chose.
QString Quote(QStringView text);

// The same for raw bytes from the file system: valid UTF-8 is shown as
// characters (quoted as above), any other byte as \xNN.
QString QuoteBytes(QByteArrayView bytes);

class Console {
  public:
    // Writes `bytes` to stdout as they are (entry data, JSON, listing lines).
    // After a failed write nothing more is written; Ok() tells.
    void Out(QByteArrayView bytes);
    void Out(const QByteArray& bytes) { Out(QByteArrayView(bytes)); }
    void Out(const QString& text) { Out(QByteArrayView(text.toUtf8())); }
    // One line on stderr ("kbx: " is added), the progress line erased first.
    void Error(const QString& line);
    // A line of -v output: on stdout, or on stderr when stdout carries data.
    void Verbose(const QString& line);
    void SetVerboseToStderr(bool on) { verboseToStderr_ = on; }

    // Flushes stdout; false (with the errno kept) when any write to it failed.
    bool Flush();
    bool Ok() const { return outErrno_ == 0; }
    int OutErrno() const { return outErrno_; }

    // The progress line, drawn at most ten times a second and only when
    // stderr is a terminal.
    void Progress(const QString& line);
    void EraseProgress();
    // True when progress lines are drawn.
    bool ShowsProgress();

  private:
    int outErrno_ = 0;
    bool verboseToStderr_ = false;
    int tty_ = -1;  // unknown until the first progress line
    bool shown_ = false;
    QElapsedTimer lastDraw_;
};

// The one console of the process.
Console& Io();

}  // namespace cli
