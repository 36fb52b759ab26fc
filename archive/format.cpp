#include "archive/format.h"

#include <cstring>

namespace kbx {

bool HasSignature(QByteArrayView bytes) {
    return bytes.size() >= kSignatureSize &&
           std::memcmp(bytes.data(), kSignature.data(), kSignatureSize) == 0;
}

QByteArray HeaderBytes(qint32 count, qint32 reserved) {
    QByteArray h(kHeaderSize, '\0');
    std::memcpy(h.data() + kSignatureOffset, kSignature.data(), kSignatureSize);
    WriteLE32(h.data() + kDirectoryEndOffset, static_cast<qint32>(DirectoryEnd(count)));
    WriteLE32(h.data() + kReservedOffset, reserved);
    WriteLE32(h.data() + kCountOffset, count);
    return h;
}

void AppendRecord(QByteArray& out, qint32 offset, qint32 size, QByteArrayView name) {
    Q_ASSERT(name.size() <= kNameSize);
    const qint64 at = out.size();
    out.resize(at + kRecordSize, '\0');
    char* rec = out.data() + at;
    WriteLE32(rec + kRecordOffsetField, offset);
    WriteLE32(rec + kRecordSizeField, size);
    // An empty view may have no storage at all.
    if (!name.isEmpty()) std::memcpy(rec + kRecordNameField, name.data(), size_t(name.size()));
}

}  // namespace kbx
