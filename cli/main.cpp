// kbx: the archive engine from the command line.
//
//   kbx list ARCHIVE [--json]
//   kbx verify ARCHIVE [--json]
//   kbx extract ARCHIVE NAME... [-C DIR]
//   kbx unpack ARCHIVE [-C DIR]
//   kbx pack ROOT -o ARCHIVE
//
// Exit codes: 0 success; 1 some entries failed or verify found problems;
// 2 a usage error or an unusable archive.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <unistd.h>
#include <cstdio>

#include "archive/archive.h"
#include "archive/verify.h"
#include "cli/failure_text.h"

namespace {

enum Exit { kOk = 0, kFailed = 1, kUnusable = 2 };

const QString kUsage = QStringLiteral(
    "Использование:\n"
    "  kbx list ARCHIVE [--json]          список записей: номер, смещение, размер, имя\n"
    "  kbx verify ARCHIVE [--json]        проверка заголовка, каталога, границ и имён\n"
    "  kbx extract ARCHIVE NAME... [-C DIR]  извлечь записи по имени, как его печатает list\n"
    "  kbx unpack ARCHIVE [-C DIR]        распаковать все записи\n"
    "  kbx pack ROOT -o ARCHIVE           запаковать ROOT/Version/Data и ROOT/Version\n"
    "\n"
    "Коды выхода: 0 успех; 1 часть записей не обработана или проверка нашла ошибки;\n"
    "2 ошибка в командной строке или архив непригоден.\n");

void Write(FILE* f, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
}

int Error(const QString& subject, const QString& reason) {
    Write(stderr,
          QStringLiteral("kbx: ") + subject + QStringLiteral(": ") + reason + QStringLiteral("\n"));
    return kUnusable;
}

int Usage(const QString& problem) {
    Write(stderr, QStringLiteral("kbx: ") + problem + QStringLiteral("\n\n") + kUsage);
    return kUnusable;
}

// A progress line on stderr, redrawn in place, only when a person watches.
class ProgressLine {
  public:
    ProgressLine(QString what, qint64 total)
        : what_(std::move(what)), total_(total), tty_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() {
        if (tty_ && shown_) std::fputs("\r\033[K", stderr);
    }
    void operator()(qint64 index) {
        if (!tty_ || (index % 256 != 0 && index + 1 != total_)) return;
        shown_ = true;
        Write(stderr, QStringLiteral("\r%1 %2/%3").arg(what_).arg(index + 1).arg(total_));
    }

  private:
    QString what_;
    qint64 total_;
    bool tty_;
    bool shown_ = false;
};

// Loads ARCHIVE or reports why it cannot be used.
bool Load(const QString& path, kbx::Directory& dir, int* exitCode) {
    kbx::Directory fresh;
    const kbx::Result r = kbx::ReadArchive(path, fresh);
    if (!r.ok()) {
        *exitCode = Error(path, cli::FailureText({r.failure.reason, r.failure.error}));
        return false;
    }
    dir = std::move(fresh);
    return true;
}

void ReportDone(const kbx::Stopwatch& clock) {
    Write(stdout, QCoreApplication::translate("kbx", "Done in %1 s\n")
                      .arg(QLocale::system().toString(double(clock.ElapsedMs()) / 1000.0, 'g')));
}

// Prints each failure and warning on its own line and gives the exit code
// for `r`.
int Finish(const kbx::Result& r, const QString& archive, const kbx::Stopwatch& clock) {
    for (const kbx::Failure& w : r.warnings) Error(archive, cli::FailureText(w));
    if (r.outcome == kbx::Outcome::Unusable) return Error(archive, cli::FailureText(r.failure));
    for (const kbx::Failure& f : r.failures) Error(archive, cli::FailureText(f));
    if (!r.failures.empty()) return kFailed;
    ReportDone(clock);
    return kOk;
}

int List(const QString& path, bool json) {
    int code = kOk;
    kbx::Directory dir;
    if (!Load(path, dir, &code)) return code;
    const qint64 count = dir.UpperBound();
    if (json) {
        // Written entry by entry, so that a large directory is never held
        // twice in memory.
        QByteArray head = QJsonDocument(QJsonObject{{QStringLiteral("archive"), path},
                                                    {QStringLiteral("count"), count}})
                              .toJson(QJsonDocument::Compact);
        head.chop(1);  // the closing brace; the entries follow
        QByteArray out = head + ",\"entries\":[";
        for (qint64 i = 0; i < count; ++i) {
            if (i > 0) out += ',';
            out += "\n  " +
                   QJsonDocument(QJsonObject{{QStringLiteral("index"), i},
                                             {QStringLiteral("offset"), dir.EntryOffset[size_t(i)]},
                                             {QStringLiteral("size"), dir.EntrySize[size_t(i)]},
                                             {QStringLiteral("name"), dir.Name(i)}})
                       .toJson(QJsonDocument::Compact);
            if (out.size() > (1 << 20)) {
                std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
                out.clear();
            }
        }
        out += "\n]}\n";
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        return kOk;
    }
    QString out;
    for (qint64 i = 0; i < count; ++i) {
        out += QStringLiteral("%1\t%2\t%3\t%4\n")
                   .arg(i)
                   .arg(dir.EntryOffset[size_t(i)])
                   .arg(dir.EntrySize[size_t(i)])
                   .arg(dir.Name(i));
        if (out.size() > (1 << 20)) Write(stdout, std::exchange(out, QString()));
    }
    Write(stdout, out);
    return kOk;
}

int Verify(const QString& path, bool json) {
    int code = kOk;
    kbx::Directory dir;
    if (!Load(path, dir, &code)) return code;
    const std::vector<kbx::Problem> problems = kbx::Verify(dir, QFileInfo(path).size());
    if (json) {
        QJsonArray list;
        for (const kbx::Problem& p : problems) {
            list.append(
                QJsonObject{{QStringLiteral("problem"), QString::fromLatin1(KindName(p.kind))},
                            {QStringLiteral("index"), p.index},
                            {QStringLiteral("name"), p.name},
                            {QStringLiteral("detail"), cli::ProblemDetail(p)}});
        }
        const QJsonObject doc{{QStringLiteral("archive"), path},
                              {QStringLiteral("count"), dir.UpperBound()},
                              {QStringLiteral("ok"), problems.empty()},
                              {QStringLiteral("problems"), list}};
        Write(stdout, QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented)));
    } else {
        for (const kbx::Problem& p : problems) {
            Write(stdout, QStringLiteral("%1\t%2\t%3\t%4\n")
                              .arg(QString::fromLatin1(KindName(p.kind)))
                              .arg(p.index)
                              .arg(p.name, cli::ProblemDetail(p)));
        }
        Write(stdout, problems.empty()
                          ? QStringLiteral("Записей: %1, ошибок нет\n").arg(dir.UpperBound())
                          : QStringLiteral("Записей: %1, найдено ошибок: %2\n")
                                .arg(dir.UpperBound())
                                .arg(problems.size()));
    }
    return problems.empty() ? kOk : kFailed;
}

// The -C folder is made when missing, as a convenience for scripts.
void MakeFolder(const QString& folder) {
    QDir().mkpath(folder);
}

int Extract(const QString& path, const QStringList& names, const QString& folder) {
    int code = kOk;
    kbx::Directory dir;
    if (!Load(path, dir, &code)) return code;
    QHash<QString, qint64> first;
    for (qint64 i = dir.UpperBound() - 1; i >= 0; --i) first.insert(dir.Name(i), i);
    std::vector<qint64> indexes;
    bool missing = false;
    for (const QString& name : names) {
        if (auto it = first.constFind(name); it != first.constEnd()) {
            indexes.push_back(*it);
        } else {
            Error(path, name + QStringLiteral(": нет такой записи"));
            missing = true;
        }
    }
    const kbx::Stopwatch clock;
    if (indexes.empty()) return kFailed;
    MakeFolder(folder);
    const int result = Finish(kbx::ExtractEntries(dir, indexes, folder), path, clock);
    return result == kOk && missing ? kFailed : result;
}

int Unpack(const QString& path, const QString& folder) {
    int code = kOk;
    kbx::Directory dir;
    if (!Load(path, dir, &code)) return code;
    const kbx::Stopwatch clock;
    MakeFolder(folder);
    ProgressLine line(QStringLiteral("распаковка"), dir.UpperBound());
    const kbx::Result r = kbx::UnpackAll(dir, folder, std::ref(line));
    return Finish(r, path, clock);
}

int Pack(const QString& root, const QString& archive) {
    const kbx::Stopwatch clock;
    return Finish(kbx::Pack(root, archive), archive, clock);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kbx"));
    QStringList args = QCoreApplication::arguments();

    QCommandLineParser parser;
    parser.setApplicationDescription(kUsage);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Эта справка."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Вывод в JSON."));
    const QCommandLineOption into(QStringLiteral("C"), QStringLiteral("Папка назначения."),
                                  QStringLiteral("DIR"), QStringLiteral("."));
    const QCommandLineOption output(QStringLiteral("o"), QStringLiteral("Файл архива."),
                                    QStringLiteral("ARCHIVE"));
    parser.addOption(help);
    parser.addOption(json);
    parser.addOption(into);
    parser.addOption(output);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, verify, extract, unpack или pack"));
    if (!parser.parse(args)) return Usage(parser.errorText());
    if (parser.isSet(help)) {
        Write(stdout, kUsage);
        return kOk;
    }
    QStringList pos = parser.positionalArguments();
    if (pos.isEmpty()) return Usage(QStringLiteral("не указана команда"));
    const QString command = pos.takeFirst();

    const auto allow = [&](std::initializer_list<const QCommandLineOption*> allowed) {
        for (const QCommandLineOption* o : {&json, &into, &output}) {
            if (parser.isSet(*o) && std::find(allowed.begin(), allowed.end(), o) == allowed.end())
                return false;
        }
        return true;
    };
    if (command == u"list" || command == u"verify") {
        if (pos.size() != 1 || !allow({&json}))
            return Usage(QStringLiteral("%1: нужен ровно один архив").arg(command));
        return command == u"list" ? List(pos[0], parser.isSet(json))
                                  : Verify(pos[0], parser.isSet(json));
    }
    if (command == u"extract") {
        if (pos.size() < 2 || !allow({&into}))
            return Usage(QStringLiteral("extract: нужны архив и хотя бы одно имя"));
        const QString archive = pos.takeFirst();
        return Extract(archive, pos, parser.value(into));
    }
    if (command == u"unpack") {
        if (pos.size() != 1 || !allow({&into}))
            return Usage(QStringLiteral("unpack: нужен ровно один архив"));
        return Unpack(pos[0], parser.value(into));
    }
    if (command == u"pack") {
        if (pos.size() != 1 || !parser.isSet(output) || !allow({&output}))
            return Usage(QStringLiteral("pack: нужны папка ROOT и -o ARCHIVE"));
        return Pack(pos[0], parser.value(output));
    }
    return Usage(QStringLiteral("неизвестная команда «%1»").arg(command));
}
