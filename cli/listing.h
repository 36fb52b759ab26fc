#pragma once
// The output of `kbx list` and `kbx verify`: lines, or JSON laid out exactly
// as Qt's JSON writer lays it out, written as it is made so that memory does
// not grow with the number of entries or problems.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <functional>

#include "archive/directory.h"
#include "archive/result.h"
#include "archive/verify.h"

namespace cli {

// Appends `text` as a JSON string, quotes included, byte for byte as
// QJsonDocument writes it.
void AppendJsonString(QByteArray& out, QStringView text);

// Where the output goes, block by block.
using Output = std::function<void(QByteArrayView)>;

// Writes one line per selected entry (index, offset, size, name quoted for a
// terminal), or with `json` one compact JSON document with the exact names;
// stops early when `going` says no.
void WriteList(const Output& out, const QString& archive, const kbx::Directory& dir, bool json,
               const std::function<bool(qint64 index)>& selected,
               const std::function<bool()>& going);

// Checks `archive` and writes one line per problem and a closing count (with
// no problem, only when `verbose`), or with `json` one indented JSON
// document. Nothing is written when the archive cannot be used at all;
// `problems` learns how many were found. A stop request ends the check
// (kbx::Verify) without the closing lines.
kbx::Result WriteVerify(const Output& out, const QString& archive, bool json, bool verbose,
                        qint64* problems, const kbx::StopFlag* stop = nullptr);

}  // namespace cli
