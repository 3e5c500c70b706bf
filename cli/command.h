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

struct Command {
    std::string_view name;
    std::string_view usage; // one line, shown by "tesselctl help"
    int (*run)(const Args& args, Io& io);
};

// Call from a static initialiser: static const bool registered = registerCommand({...});
bool registerCommand(Command command);

// The gateway address the application would use: the configured one (with the sync library),
// else the detected one.
std::string defaultEndpoint();

} // namespace tessel::cli
