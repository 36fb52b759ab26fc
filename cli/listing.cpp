#include "cli/listing.h"

#include <charconv>

#include "cli/console.h"
#include "cli/failure_text.h"
#include "cli/text.h"

namespace cli {

namespace {

// Output gathered in memory and written in blocks of about 1 MiB.
class Sink {
  public:
    explicit Sink(const Output& out) : out_(out) {}
    ~Sink() { Flush(); }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    QByteArray& buffer() { return buf_; }
    // Writes the buffer out once it is large.
    void Breathe() {
        if (buf_.size() >= kBlock) Flush();
    }
    void Flush() {
        if (!buf_.isEmpty()) out_(buf_);
        buf_.clear();
    }

  private:
    static constexpr qsizetype kBlock = 1 << 20;
    const Output& out_;
    QByteArray buf_;
};

void AppendText(QByteArray& out, QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            out += text.toUtf8();
            return;
        }
    }
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* p = out.data() + at;
    for (const QChar c : text) *p++ = char(c.unicode());
}

// Text quoted for a terminal; printable ASCII needs nothing.
void AppendQuoted(QByteArray& out, QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F) {
            AppendText(out, Quote(text));
            return;
        }
    }
    AppendText(out, text);
}

void AppendNumber(QByteArray& out, qint64 n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end - digits);
}

bool IsPlainAscii(QByteArrayView bytes, bool json) {
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x7F || u < 0x20 || (json && (c == '"' || c == '\\'))) return false;
    }
    return true;
}

// An entry's name, quoted for a terminal or as a JSON string. Most names are
// printable ASCII with nothing to escape; their bytes are the output.
void AppendName(QByteArray& out, QByteArrayView field, bool json) {
    const QByteArrayView bytes = kbx::NameBytes(field);
    if (!IsPlainAscii(bytes, json)) {
        const QString name = kbx::DecodeName(bytes);
        json ? AppendJsonString(out, name) : AppendText(out, Quote(name));
        return;
    }
    if (json) out += '"';
    out += bytes;
    if (json) out += '"';
}

}  // namespace

void AppendJsonString(QByteArray& out, QStringView text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    qsizetype run = 0;  // start of the characters not yet appended
    const auto flush = [&](qsizetype end) { AppendText(out, text.sliced(run, end - run)); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 0x20 && u != u'"' && u != u'\\') continue;
        flush(i);
        run = i + 1;
        out += '\\';
        switch (u) {
            case u'"':
                out += '"';
                break;
            case u'\\':
                out += '\\';
                break;
            case u'\b':
                out += 'b';
                break;
            case u'\f':
                out += 'f';
                break;
            case u'\n':
                out += 'n';
                break;
            case u'\r':
                out += 'r';
                break;
            case u'\t':
                out += 't';
                break;
            default:
                out += "u00";
                out += kHex[u >> 4];
                out += kHex[u & 0xF];
        }
    }
    flush(text.size());
    out += '"';
}

void WriteList(const Output& file, const QString& archive, const kbx::Directory& dir, bool json,
               const std::function<bool(qint64 index)>& selected,
               const std::function<bool()>& going) {
    Sink sink(file);
    QByteArray& out = sink.buffer();
    const qint64 count = dir.Count();
    if (json) {
        out += "{\"archive\":";
        AppendJsonString(out, archive);
        out += ",\"count\":" + QByteArray::number(count) + ",\"entries\":[";
    }
    qint64 listed = 0;
    for (qint64 i = 0; i < count && going(); ++i) {
        if (!selected(i)) continue;
        if (json) {
            out += listed++ > 0 ? ",\n  {\"index\":" : "\n  {\"index\":";
            AppendNumber(out, i);
            out += ",\"name\":";
            AppendName(out, dir.EntryName[i], true);
            out += ",\"offset\":";
            AppendNumber(out, dir.EntryOffset[size_t(i)]);
            out += ",\"size\":";
            AppendNumber(out, dir.EntrySize[size_t(i)]);
            out += '}';
        } else {
            AppendNumber(out, i);
            out += '\t';
            AppendNumber(out, dir.EntryOffset[size_t(i)]);
            out += '\t';
            AppendNumber(out, dir.EntrySize[size_t(i)]);
            out += '\t';
            AppendName(out, dir.EntryName[i], false);
            out += '\n';
        }
        sink.Breathe();
    }
    if (json) {
        // Bytes edits in place left unused, for scripts that decide when to
        // compact.
        const kbx::Layout layout = kbx::MeasureLayout(dir.EntryOffset.data(), dir.EntrySize.data(),
                                                      count, dir.Identity.size);
        out += "\n],\"listed\":" + QByteArray::number(listed) +
               ",\"unused\":" + QByteArray::number(layout.unused) + "}\n";
    }
}

kbx::Result WriteVerify(const Output& file, const QString& archive, bool json, bool verbose,
                        qint64* problems, const kbx::StopFlag* stop) {
    *problems = 0;
    qint64 count = 0;
    if (json) {
        // The document states "ok" before the problems: a first run stops at
        // the first problem, so that the problems themselves are never held.
        bool any = false;
        kbx::Result first = kbx::Verify(
            archive,
            [&](const kbx::Problem&) {
                any = true;
                return false;
            },
            &count, nullptr, stop);
        if (!first.ok()) return first;
        Sink sink(file);
        QByteArray& out = sink.buffer();
        out += "{\n    \"archive\": ";
        AppendJsonString(out, archive);
        out += ",\n    \"count\": " + QByteArray::number(count) +
               ",\n    \"ok\": " + (any ? "false" : "true") + ",\n    \"problems\": [\n";
        const auto add = [&](const kbx::Problem& p) {
            out += *problems > 0 ? ",\n        {\n            \"detail\": "
                                 : "        {\n            \"detail\": ";
            AppendJsonString(out, ProblemDetail(p));
            out += ",\n            \"index\": " + QByteArray::number(p.index) +
                   ",\n            \"name\": ";
            AppendJsonString(out, p.name);
            out += ",\n            \"problem\": \"";
            out += kbx::KindName(p.kind);
            out += "\"\n        }";
            ++*problems;
            sink.Breathe();
            return true;
        };
        kbx::Result r = !any ? kbx::Result{} : kbx::Verify(archive, add, nullptr, nullptr, stop);
        if (!r.ok()) {
            out.clear();
            return r;
        }
        out += *problems > 0 ? "\n    ]\n}\n" : "    ]\n}\n";
        // A rollback, reported once: the first check did it.
        r.warnings.insert(r.warnings.begin(), first.warnings.begin(), first.warnings.end());
        return r;
    }
    Sink sink(file);
    QByteArray& out = sink.buffer();
    kbx::Layout layout;
    const kbx::Result r = kbx::Verify(
        archive,
        [&](const kbx::Problem& p) {
            out += kbx::KindName(p.kind);
            out += '\t' + QByteArray::number(p.index) + '\t';
            AppendQuoted(out, p.name);
            out += '\t';
            AppendText(out, ProblemDetail(p));
            out += '\n';
            ++*problems;
            sink.Breathe();
            return true;
        },
        &count, &layout, stop);
    if (!r.ok()) {
        out.clear();
        return r;
    }
    const QString entries = Kbx::tr("%n entries", nullptr, Plural(count));
    if (*problems > 0)
        AppendText(out, Kbx::tr("%1, %n problems\n", nullptr, Plural(*problems)).arg(entries));
    else if (verbose)
        AppendText(out, Kbx::tr("%1, no problems\n").arg(entries));
    // Information, not problems: what edits in place leave, and compact undoes.
    if (verbose && layout.unused > 0)
        AppendText(out, Kbx::tr("%n bytes unused (kbx compact removes them)\n", nullptr,
                                Plural(layout.unused)));
    if (verbose && !layout.canonical)
        AppendText(out, Kbx::tr("the data are not back to back in directory order (kbx compact "
                                "lays them out so)\n"));
    return r;
}

}  // namespace cli
