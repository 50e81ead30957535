// A second program that writes a file as a download does, for the tests where a writer matters:
//   kw_test_writer FILE PIECES BYTES PAUSE_MS
// opens FILE for appending (creating it), prints "opened", then writes PIECES pieces of BYTES
// bytes of 'a', pausing PAUSE_MS after each but the last with the file kept open, and prints
// "closed" at the end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const int fd =
        argc == 5 ? ::open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    if (fd < 0)
        return 1;
    std::printf("opened\n");
    std::fflush(stdout);
    const std::string bytes(std::size_t(std::atol(argv[3])), 'a');
    for (int i = std::atoi(argv[2]); i > 0; --i) {
        if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            return 1;
        if (i > 1)
            ::usleep(useconds_t(std::atoi(argv[4])) * 1000);
    }
    if (::close(fd) != 0)
        return 1;
    std::printf("closed\n");
    return 0;
}
