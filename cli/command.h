// tesselctl's subcommands register themselves here, one file per group.
#pragma once

#include <QCommandLineParser>
#include <QList>

#include <iosfwd>
#include <string>
#include <string_view>

namespace tessel::cli {

struct Io {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

// "tesselctl --help" shows each command's synopsis with its summary below it; the manual page
// (data/man/tesselctl.1.in) says the same. `run` gets the words after the command parsed
// against its `options` (the positional arguments leave the command's name out); a line the
// parser refuses prints the synopsis and exits 2 before that.
struct Command {
    std::string_view name;
    std::string_view synopsis; // "fetch [--endpoint 地址] ...", without "tesselctl"
    std::string_view summary;
    int (*run)(const QCommandLineParser& line, Io& io);
    QList<QCommandLineOption> options = {};
};

// "用法：tesselctl SYNOPSIS" on standard error; returns the exit status 2.
int usageError(std::string_view synopsis, Io& io);

// Call from a static initialiser: static const bool registered = registerCommand({...});
bool registerCommand(Command command);

// The gateway address the application would use: the configured one (with the sync library),
// else the detected one.
std::string defaultEndpoint();

} // namespace tessel::cli
