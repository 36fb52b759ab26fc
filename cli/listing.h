#pragma once
// The output of `kbx list` and `kbx verify`: lines, or JSON laid out exactly
// as Qt's JSON writer lays it out, written as it is made so that memory does
// not grow with the number of entries or problems.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdio>

#include "archive/directory.h"
#include "archive/result.h"
#include "archive/verify.h"

namespace cli {

// Appends `text` as a JSON string, quotes included, byte for byte as
// QJsonDocument writes it.
void AppendJsonString(QByteArray& out, QStringView text);

// Writes one line per entry (index, offset, size, name), or with `json` one
// compact JSON document.
void WriteList(std::FILE* out, const QString& archive, const kbx::Directory& dir, bool json);

// Checks `archive` and writes one line per problem and a closing count, or
// with `json` one indented JSON document. Nothing is written when the archive
// cannot be used at all; `problems` learns how many were found.
kbx::Result WriteVerify(std::FILE* out, const QString& archive, bool json, qint64* problems);

}  // namespace cli
