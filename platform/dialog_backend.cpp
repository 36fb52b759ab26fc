#include "platform/dialog_backend.h"

#include <QChar>

#include "platform/runtime_error.h"

QString TextBeforeNul(const QString& buffer) {
    const qsizetype nul = buffer.indexOf(QChar(u'\0'));
    return nul < 0 ? buffer : buffer.left(nul);
}

QList<QPair<QString, QString>> FilterPairs(const QString& lpstrFilter) {
    QList<QPair<QString, QString>> pairs;
    const QStringList parts = lpstrFilter.split(QChar(u'\0'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;  // the end of the list
        pairs.append({parts[i], parts[i + 1]});
    }
    return pairs;
}

QStringList QtNameFilters(const QString& lpstrFilter) {
    QStringList filters;
    for (const auto& [description, pattern] : FilterPairs(lpstrFilter)) {
        QStringList patterns = pattern.split(u';', Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        patterns.removeAll(QString());
        if (patterns.isEmpty()) continue;  // a type that matches nothing cannot be offered
        filters.append(description + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return filters;
}

bool StoreFileChoice(OpenFileNameRecord& ofn, const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (path.isEmpty() || path.size() >= qsizetype(ofn.nMaxFile)) return false;
    if (ofn.nMaxFileTitle > 0 && name.size() >= qsizetype(ofn.nMaxFileTitle)) return false;

    ofn.lpstrFile = path + QString(ofn.nMaxFile - path.size(), QChar(u'\0'));
    if (ofn.nMaxFileTitle > 0) {
        ofn.lpstrFileTitle = name + QString(ofn.nMaxFileTitle - name.size(), QChar(u'\0'));
    }
    ofn.nFileOffset = quint16(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) {
        ofn.nFileExtension = quint16(path.size());  // points at the terminator
    } else if (dot == name.size() - 1) {
        ofn.nFileExtension = 0;  // a name ending in "."
    } else {
        ofn.nFileExtension = quint16(slash + 1 + dot + 1);
    }
    return true;
}

QString DevNamesRecord::NameAt(quint16 offset) const {
    if (offset < kDevNamesHeaderBytes) return {};
    const qsizetype start = offset - kDevNamesHeaderBytes;
    if (start >= text.size()) return {};
    return TextBeforeNul(text.mid(start));
}

int DialogBackend::ChooseColor(ChooseColorRecord&) {
    return 0;
}

int DialogBackend::ChooseFont(ChooseFontRecord&) {
    return 0;
}

std::optional<QString> DialogBackend::TextFaceOf(const LogFontRecord& lf) {
    return TextBeforeNul(lf.lfFaceName);
}

int DialogBackend::PrintDlg(PrintDlgRecord&) {
    return 0;
}

int DialogBackend::MessageBox(QWidget*, const QString&, const QString&, quint32) {
    return 1;
}

QString FixedField(const QString& text, int chars) {
    return text.left(chars).leftJustified(chars, QChar(u'\0'));
}

DevNamesRecord MakeDevNames(const QString& driver, const QString& device, const QString& port) {
    const qsizetype deviceOffset = kDevNamesHeaderBytes + 1 + driver.size();
    const qsizetype outputOffset = deviceOffset + 1 + device.size();
    if (outputOffset > 32767) throw RuntimeError(RuntimeError::Overflow);
    DevNamesRecord names;
    names.wDriverOffset = kDevNamesHeaderBytes;
    names.wDeviceOffset = quint16(deviceOffset);
    names.wOutputOffset = quint16(outputOffset);
    names.wDefault = 0;
    const QChar nul(u'\0');
    names.text =
        (driver + nul + device + nul + port + nul).leftJustified(kDevNamesTextChars, u' ', true);
    return names;
}
