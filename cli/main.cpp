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

} // namespace tessel::cli

int main(int argc, char** argv) {
    using namespace tessel::cli;
    try {
        std::locale::global(std::locale(""));
    } catch (const std::runtime_error&) {
        // An unknown LANG must not stop a script; the classic locale will do.
    }
    Io io{std::cin, std::cout, std::cerr};
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        io.out << "tesselctl " TESSEL_VERSION "\n";
        return 0;
    }
    if (argc < 2 || std::string_view(argv[1]) == "help" || std::string_view(argv[1]) == "--help") {
        usage(argc < 2 ? io.err : io.out);
        return argc < 2 ? 2 : 0;
    }
    const std::string_view name = argv[1];
    for (const auto& c : commands()) {
        if (c.name == name)
            return c.run(Args(argv + 2, argv + argc), io);
    }
    io.err << "tesselctl：未知命令 " << name << '\n';
    usage(io.err);
    return 2;
}
