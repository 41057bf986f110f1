// Loopback bandwidth of this machine: sends a file through a TCP connection on 127.0.0.1 to a
// thread that reads and discards it, and prints the MB/s. The ceiling for a bulk load.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: loopback FILE\n");
        return 2;
    }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 1;
    long long received = 0;
    std::thread reader([&] {
        int fd = accept(listener, nullptr, nullptr);
        std::vector<char> buf(1 << 20);
        ssize_t r;
        while ((r = read(fd, buf.data(), buf.size())) > 0)
            received += r;
        close(fd);
    });
    int out = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(out, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return 1;
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> buf(8 << 20);
    auto start = std::chrono::steady_clock::now();
    long long sent = 0;
    while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0) {
        size_t n = size_t(in.gcount()), at = 0;
        while (at < n) {
            ssize_t w = write(out, buf.data() + at, n - at);
            if (w <= 0) return 1;
            at += size_t(w);
        }
        sent += static_cast<long long>(n);
    }
    close(out);
    reader.join();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("loopback: %lld bytes in %.2f s: %.0f MB/s\n", received, seconds,
                double(sent) / 1e6 / seconds);
    return received == sent ? 0 : 1;
}
