#include <QStringList>

#include <algorithm>
#include <iostream>
#include <locale>
#include <stdexcept>
#include <vector>

#include "command.h"

namespace tessel::cli {

static std::vector<Command>& commands() {
    static std::vector<Command> all;
    return all;
}

bool registerCommand(Command command) {
    commands().push_back(command);
    return true;
}

int usageError(std::string_view synopsis, Io& io) {
    io.err << "用法：tesselctl " << synopsis << '\n';
    return 2;
}

static void usage(std::ostream& out) {
    auto all = commands();
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.name < b.name; });
    out << "用法：tesselctl <命令> [参数]\n\n命令：\n";
    for (const auto& c : all)
        out << "  " << c.synopsis << "\n      " << c.summary << '\n';
    out << "  --help\n      显示本帮助\n"
           "  --version\n      显示版本\n\n"
           "退出状态：0 成功，1 命令失败，2 用法错误。详见 man tesselctl。\n";
}

// `arguments` starts with the command's name, which the parser takes for the program's.
static int run(const Command& command, const QStringList& arguments, Io& io) {
    QCommandLineParser line;
    line.addOptions(command.options);
    if (!line.parse(arguments))
        return usageError(command.synopsis, io);
    return command.run(line, io);
}

static int unknownCommand(const QString& name, Io& io) {
    io.err << "tesselctl：未知命令 " << name.toStdString() << '\n';
    usage(io.err);
    return 2;
}

} // namespace tessel::cli

int main(int argc, char** argv) {
    using namespace tessel::cli;
    try {
        std::locale::global(std::locale(""));
    } catch (const std::runtime_error&) {
        // An unknown LANG must not stop a script; the classic locale will do.
    }
    Io io{std::cin, std::cout, std::cerr};
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Options before the command are tesselctl's own; after it, the command's.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringLiteral("help")), version(QStringLiteral("version"));
    parser.addOptions({help, version});
    if (!parser.parse(arguments))
        return unknownCommand(arguments.value(1), io);
    const QStringList line = parser.positionalArguments();
    if (parser.isSet(help) || line.value(0) == u"help") {
        usage(io.out);
        return 0;
    }
    if (parser.isSet(version)) {
        io.out << "tesselctl " TESSEL_VERSION "\n";
        return 0;
    }
    if (line.isEmpty()) {
        usage(io.err);
        return 2;
    }
    for (const auto& c : commands()) {
        if (QLatin1String(c.name.data(), qsizetype(c.name.size())) == line.first())
            return run(c, line, io);
    }
    return unknownCommand(line.first(), io);
}
