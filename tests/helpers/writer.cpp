// kw_test_writer FILE PIECES BYTES PAUSE_MS[,PAUSE_MS...]: appends PIECES pieces of BYTES 'a' to
// FILE, held open, the pauses taken in turn between pieces; prints "opened" and "closed".
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const int fd =
        argc == 5 ? ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    if (fd < 0)
        return 1;
    std::printf("opened\n");
    std::fflush(stdout);
    const std::string bytes(std::size_t(std::atol(argv[3])), 'a');
    std::vector<long> pauses;
    for (const char* p = argv[4]; *p;) {
        char* end = nullptr;
        pauses.push_back(std::strtol(p, &end, 10));
        p = *end == ',' ? end + 1 : end + std::strlen(end);
    }
    if (pauses.empty())
        pauses.push_back(0);
    for (int i = std::atoi(argv[2]), piece = 0; i > 0; --i, ++piece) {
        if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            return 1;
        if (i > 1)
            ::usleep(useconds_t(pauses[std::size_t(piece) % pauses.size()]) * 1000);
    }
    if (::close(fd) != 0)
        return 1;
    std::printf("closed\n");
    return 0;
}
