// tesselctl's subcommands register themselves here, one file per group.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::cli {

struct Io {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

using Args = std::vector<std::string>;

// "tesselctl --help" shows each command's synopsis with its summary below it; the manual page
// (data/man/tesselctl.1.in) says the same.
struct Command {
    std::string_view name;
    std::string_view synopsis; // "fetch [--endpoint 地址] ...", without "tesselctl"
    std::string_view summary;
    int (*run)(const Args& args, Io& io);
};

// Call from a static initialiser: static const bool registered = registerCommand({...});
bool registerCommand(Command command);

// The gateway address the application would use: the configured one (with the sync library),
// else the detected one.
std::string defaultEndpoint();

} // namespace tessel::cli
