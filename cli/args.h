#pragma once
// Command-line options in the GNU style, over the arguments' raw bytes:
// "-C DIR", "-CDIR", "--directory DIR", "--directory=DIR", flags grouped as
// "-vk", options anywhere among the operands, "--" ending the options.

#include <QByteArray>
#include <QString>

#include <map>
#include <string>
#include <vector>

namespace cli {

struct OptionDef {
    char shortName;  // 0 when the option has only a long name
    const char* longName;
    bool takesValue;
};

struct ParsedArgs {
    std::vector<QByteArray> operands;
    std::map<std::string, QByteArray> options;  // by long name; flags hold ""

    bool Has(const char* longName) const { return options.count(longName) != 0; }
    QByteArray Value(const char* longName) const {
        auto it = options.find(longName);
        return it == options.end() ? QByteArray() : it->second;
    }
};

// Parses `args` against `defs`. Returns an empty string, or the problem in
// the user's language ("unknown option -C").
QString ParseArgs(const std::vector<QByteArray>& args, const std::vector<OptionDef>& defs,
                  ParsedArgs* out);

}  // namespace cli
