#include "cli/args.h"

#include "cli/console.h"
#include "cli/text.h"

namespace cli {

namespace {

const OptionDef* FindShort(const std::vector<OptionDef>& defs, char c) {
    for (const OptionDef& s : defs)
        if (s.shortName == c) return &s;
    return nullptr;
}

const OptionDef* FindLong(const std::vector<OptionDef>& defs, QByteArrayView name) {
    for (const OptionDef& s : defs)
        if (name == s.longName) return &s;
    return nullptr;
}

}  // namespace

QString ParseArgs(const std::vector<QByteArray>& args, const std::vector<OptionDef>& defs,
                  ParsedArgs* out) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            out->operands.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a.startsWith("--")) {
            const qsizetype eq = a.indexOf('=');
            const QByteArray name = a.mid(2, eq < 0 ? -1 : eq - 2);
            const OptionDef* def = FindLong(defs, name);
            if (!def) return Kbx::tr("unknown option %1").arg(QuoteBytes(eq < 0 ? a : a.left(eq)));
            if (!def->takesValue) {
                if (eq >= 0)
                    return Kbx::tr("option --%1 takes no value").arg(QString::fromLatin1(name));
                out->options[def->longName] = QByteArray();
            } else if (eq >= 0) {
                out->options[def->longName] = a.mid(eq + 1);
            } else if (i + 1 < args.size()) {
                out->options[def->longName] = args[++i];
            } else {
                return Kbx::tr("option --%1 needs a value").arg(QString::fromLatin1(name));
            }
            continue;
        }
        // A group of short options: flags, then at most one taking a value
        // (the rest of the group, or the next argument).
        for (qsizetype k = 1; k < a.size(); ++k) {
            const OptionDef* def = FindShort(defs, a[k]);
            if (!def) return Kbx::tr("unknown option -%1").arg(QuoteBytes(a.mid(k, 1)));
            if (!def->takesValue) {
                out->options[def->longName] = QByteArray();
                continue;
            }
            if (k + 1 < a.size())
                out->options[def->longName] = a.mid(k + 1);
            else if (i + 1 < args.size())
                out->options[def->longName] = args[++i];
            else
                return Kbx::tr("option -%1 needs a value").arg(QChar(a[k]));
            break;
        }
    }
    return {};
}

}  // namespace cli
