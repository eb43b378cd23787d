// parse_floor: reads each file named on the command line and parses every
// line of it with simdjson, on one thread, doing nothing else. The time it
// takes is the least any tool that reads every line must spend on a home;
// `make bench` measures lorebox against it as well as against `cat`,
// because unlike `cat` it moves with the processor's speed.
//
// Prints the files, lines, bytes and lines that did not parse; exits 1 when
// a file cannot be read.
#include <fcntl.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Reads the whole file at `path` into `buffer` (grown as needed, with
// simdjson's padding after the content); returns the size, or -1 with errno
// set.
long long read_file(const char* path, std::vector<char>& buffer) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    ::close(fd);
    return -1;
  }
  size_t size = 0;
  size_t capacity = static_cast<size_t>(status.st_size) + 1;
  while (true) {
    if (buffer.size() < capacity + simdjson::SIMDJSON_PADDING)
      buffer.resize(capacity + simdjson::SIMDJSON_PADDING);
    const ssize_t got = ::read(fd, buffer.data() + size, capacity - size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    if (got == 0) break;
    size += static_cast<size_t>(got);
    if (size == capacity) capacity *= 2;  // the file grew
  }
  ::close(fd);
  return static_cast<long long>(size);
}

}  // namespace

int main(int argc, char** argv) {
  simdjson::dom::parser parser;
  std::vector<char> buffer;
  unsigned long long lines = 0, bytes = 0, unparsed = 0;
  for (int i = 1; i < argc; ++i) {
    const long long size = read_file(argv[i], buffer);
    if (size < 0) {
      std::fprintf(stderr, "parse_floor: %s: %s\n", argv[i], std::strerror(errno));
      return 1;
    }
    bytes += static_cast<unsigned long long>(size);
    const char* at = buffer.data();
    const char* end = at + size;
    while (at < end) {
      const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
      const char* line_end = newline != nullptr ? newline : end;
      if (line_end > at) {
        ++lines;
        // The bytes after the line (the next lines, then the padding) may
        // be read by the parser, so the line is not copied.
        simdjson::dom::element root;
        if (parser.parse(at, line_end - at, false).get(root) != simdjson::SUCCESS)
          ++unparsed;
      }
      at = line_end + 1;
    }
  }
  std::printf("%d files, %llu lines, %llu bytes, %llu lines not parsed\n", argc - 1,
              lines, bytes, unparsed);
  return 0;
}
