// A second program that writes a file as a download does, for the tests where a writer matters:
//   kw_test_writer FILE PIECES BYTES PAUSE_MS
// opens FILE for appending (creating it), prints "opened", then writes PIECES pieces of BYTES
// bytes ('a' for the first, 'b' for the next, ...), pausing PAUSE_MS after each but the last with
// the file kept open, and prints "closed" at the end.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 5)
        return 2;
    const int pieces = std::atoi(argv[2]);
    const auto size = std::size_t(std::atol(argv[3]));
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;
    std::printf("opened\n");
    std::fflush(stdout);
    for (int i = 0; i < pieces; ++i) {
        const std::string bytes(size, char('a' + i % 26));
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return 1;
        if (i + 1 < pieces)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[4])));
    }
    if (::close(fd) != 0)
        return 1;
    std::printf("closed\n");
    return 0;
}
