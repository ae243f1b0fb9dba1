#include <cstdio>

int main() {
    std::fputs("fadewell-mixer-test: the mixer test window is not built yet\n", stderr);
    return 1;
}
