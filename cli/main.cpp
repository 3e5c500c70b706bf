#include <cstdio>

int main() {
    std::puts("tesselctl");
    return 0;
}
