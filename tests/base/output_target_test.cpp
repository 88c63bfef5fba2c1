// What the writer does with a target that is not a regular file: streams are
// written through and stay streams, other special files are refused, links
// that do not lead to a stream are replaced as files are.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/output_calls.h"
#include "base/output_file.h"
#include "support/test_files.h"

namespace kdsp {

namespace {

const Bytes IMAGE = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 5};

int write_image(const std::string& path) { return write_output(path.c_str(), IMAGE.data(), IMAGE.size()); }

mode_t kind_of(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

std::string link_target(const std::string& path) {
  char target[4096] = {};
  return ::readlink(path.c_str(), target, sizeof target - 1) > 0 ? std::string(target) : std::string();
}

// The read end of a FIFO, opened without waiting for a writer.
struct FifoReader {
  int fd;
  explicit FifoReader(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~FifoReader() {
    if (fd >= 0) ::close(fd);
  }
  // Everything written so far.
  Bytes take() const {
    Bytes got;
    std::uint8_t buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) got.insert(got.end(), buffer, buffer + n);
    return got;
  }
};

// A node made with mknod, if this process may make one and open it for
// writing (a nodev mount allows the first but not the second).
bool make_device(const std::string& path, mode_t kind, unsigned major_number, unsigned minor_number) {
  if (::mknod(path.c_str(), kind | 0600, makedev(major_number, minor_number)) != 0) return false;
  if (kind == S_IFBLK) return true;  // never opened: it is refused before
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace

TEST(OutputTarget, AFifoIsWrittenThroughAndStaysAFifo) {
  ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  const std::string link = dir.file("link");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);

  // With nobody reading, the write fails at once rather than waiting.
  EXPECT_EQ(write_image(fifo), -1);
  EXPECT_EQ(kind_of(fifo), S_IFIFO);

  FifoReader reader(fifo);
  ASSERT_GE(reader.fd, 0);
  EXPECT_EQ(write_image(fifo), 0);
  EXPECT_EQ(reader.take(), IMAGE);
  EXPECT_EQ(write_image(link), 0);  // a link to a FIFO: written through too
  EXPECT_EQ(reader.take(), IMAGE);
  EXPECT_EQ(kind_of(fifo), S_IFIFO);
  EXPECT_EQ(link_target(link), fifo);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "link"}));

  // Every failing call is reported; the FIFO stays a FIFO.
  out_fail_call(0);
  ASSERT_EQ(write_image(fifo), 0);
  const std::uint64_t total = out_call_count();
  EXPECT_EQ(total, 8u);  // lstat, open, fstat, fcntl, fdopen, write, flush, close
  for (std::uint64_t k = 1; k <= total; ++k) {
    out_fail_call(k);
    EXPECT_EQ(write_image(fifo), -1) << "call " << k;
    out_fail_call(0);
    EXPECT_EQ(kind_of(fifo), S_IFIFO) << "call " << k;
    reader.take();
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "link"}));
}

TEST(OutputTarget, ACharacterDeviceIsWrittenThroughAndStaysADevice) {
  // /dev/null itself is written to by the process tests; here a node of the
  // same device in the scratch directory, where a regression harms nothing.
  ScratchDir dir;
  const std::string device = dir.file("null");
  const std::string link = dir.file("link");
  if (!make_device(device, S_IFCHR, 1, 3)) GTEST_SKIP() << "cannot make and open a device node here";
  ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
  EXPECT_EQ(write_image(device), 0);
  EXPECT_EQ(write_image(link), 0);
  EXPECT_EQ(kind_of(device), S_IFCHR);
  EXPECT_EQ(link_target(link), device);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link", "null"}));

  // A device that refuses the bytes: the failure is reported.
  const std::string full = dir.file("full");
  ASSERT_TRUE(make_device(full, S_IFCHR, 1, 7));
  EXPECT_EQ(write_image(full), -1);
  EXPECT_EQ(kind_of(full), S_IFCHR);
}

TEST(OutputTarget, SocketsBlockDevicesAndDirectoriesAreRefusedAndKept) {
  ScratchDir dir;
  const std::string socket_path = dir.file("socket");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(write_image(socket_path), -1);
  EXPECT_EQ(kind_of(socket_path), S_IFSOCK);
  ::close(listener);

  const std::string directory = dir.file("directory");
  ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
  EXPECT_EQ(write_image(directory), -1);
  EXPECT_EQ(kind_of(directory), S_IFDIR);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"directory", "socket"}));

  const std::string block = dir.file("block");
  if (!make_device(block, S_IFBLK, 7, 0)) GTEST_SKIP() << "cannot make a device node here";
  EXPECT_EQ(write_image(block), -1);
  EXPECT_EQ(kind_of(block), S_IFBLK);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"block", "directory", "socket"}));
}

TEST(OutputTarget, OtherLinksAreReplacedAndWhatTheyLeadToIsKept) {
  // A link to a regular file, a dangling one, one to a directory, a loop:
  // the link is replaced by the new file, nothing it points at is touched.
  ScratchDir dir;
  const std::string file = dir.file("file");
  write_file(file, {'k', 'e', 'e', 'p'});
  ASSERT_EQ(::mkdir(dir.file("directory").c_str(), 0700), 0);
  const struct {
    const char* name;
    std::string target;
  } links[] = {{"to_file", file},
               {"dangling", dir.file("nothing")},
               {"to_directory", dir.file("directory")},
               {"loop", dir.file("loop")}};
  for (const auto& link : links) {
    const std::string path = dir.file(link.name);
    ASSERT_EQ(::symlink(link.target.c_str(), path.c_str()), 0);
    EXPECT_EQ(write_image(path), 0) << link.name;
    EXPECT_EQ(kind_of(path), S_IFREG) << link.name;
    EXPECT_EQ(read_file(path), IMAGE) << link.name;
  }
  EXPECT_EQ(read_file(file), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"dangling", "directory", "file", "loop", "to_directory", "to_file"}));
  EXPECT_EQ(kind_of(dir.file("directory")), S_IFDIR);
}

}  // namespace kdsp
