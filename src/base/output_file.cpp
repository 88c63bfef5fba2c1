#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/memory.h"
#include "base/output_calls.h"

namespace kdsp {

namespace {

// Room for ".tmp.", any process identifier, "." and a 64-bit suffix in hex.
constexpr std::size_t TEMP_SUFFIX_ROOM = 48;

// Temporary names tried before giving up. The first is predictable (PID
// only), the others carry a random suffix, so that only a run that already
// failed fifteen times on names nobody could guess runs out of them.
constexpr int TEMP_NAME_ATTEMPTS = 16;

// What a replacement attempt through an anonymous file returns when the
// system cannot make or name one; the named temporary is used instead.
constexpr int ANONYMOUS_UNSUPPORTED = 1;

enum class Target {
  absent,           // nothing there yet: a new file
  replaceable,      // a regular file, or a link that does not lead to a stream: replaced whole
  stream,           // a character device or FIFO, directly or through links: written through
  standard_output,  // a link to the very file standard output is open on: written as standard output
  refused,          // a directory, socket or block device: left alone
};

bool is_stream(mode_t mode) { return S_ISCHR(mode) || S_ISFIFO(mode); }

// /dev/stdout is a link through /proc to whatever standard output is. When
// that is a regular file, replacing the link would put the WAV into a new
// file in /dev (for root) and leave the redirected file empty. fstat is not
// a seam call: its one failure, a closed standard output, just means no.
bool is_standard_output_file(const struct stat& file) {
  struct stat out;
  return ::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && out.st_dev == file.st_dev &&
         out.st_ino == file.st_ino;
}

// Looks at what a link finally leads to. A dangling link, a loop or an
// unreachable target is replaced as a regular file would be.
int classify_link(const char* path, Target* target) {
  struct stat final_target;
  if (out_stat(path, &final_target) != 0) {
    if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR && errno != EACCES) return -1;
    *target = Target::replaceable;
  } else if (is_stream(final_target.st_mode)) {
    *target = Target::stream;
  } else if (S_ISREG(final_target.st_mode) && is_standard_output_file(final_target)) {
    *target = Target::standard_output;
  } else {
    *target = Target::replaceable;
  }
  return 0;
}

int classify_target(const char* path, Target* target) {
  struct stat entry;
  if (out_lstat(path, &entry) != 0) {
    if (errno != ENOENT) return -1;
    *target = Target::absent;
    return 0;
  }
  if (S_ISLNK(entry.st_mode)) return classify_link(path, target);
  if (S_ISREG(entry.st_mode)) {
    *target = Target::replaceable;
  } else if (is_stream(entry.st_mode)) {
    *target = Target::stream;
  } else {
    *target = Target::refused;
  }
  return 0;
}

// Flushes what was written; with `durable`, also forces it to storage.
// Forcing comes before the file takes the target's name: without it a crash
// just after the rename could leave the target naming a file whose data never
// reached the disk, that is an empty or partial image.
bool flush_all(std::FILE* stream, bool durable) {
  if (out_fflush(stream) != 0) return false;
  return !durable || out_fsync(::fileno(stream)) == 0;
}

// `out` (at least as long as `path` plus one) receives the name of the
// directory that holds `path`.
void directory_of(const char* path, char* out) {
  std::strcpy(out, path);
  char* slash = std::strrchr(out, '/');
  if (slash == nullptr) {
    std::strcpy(out, ".");
  } else {
    slash[slash == out ? 1 : 0] = '\0';
  }
}

// After the rename, the directory entry itself is made durable. The image is
// already in place under its name by then, so a failure here is not reported:
// the write has happened and cannot be undone.
void sync_parent_directory(const char* path, char* scratch) {
  directory_of(path, scratch);
  const int fd = ::open(scratch, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::uint64_t mixed(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Differs between two processes with the same PID (containers sharing a
// volume) by the clock and by where the stack was placed.
std::uint64_t name_seed() {
  std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  seed ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&seed));
  return mixed(seed);
}

// The attempt-th candidate temporary name for `path`, into `name`.
void temp_name(const char* path, int attempt, std::uint64_t seed, char* name, std::size_t name_size) {
  const long pid = static_cast<long>(::getpid());
  if (attempt == 0) {
    std::snprintf(name, name_size, "%s.tmp.%ld", path, pid);
  } else {
    const auto suffix = static_cast<unsigned long long>(mixed(seed + static_cast<std::uint64_t>(attempt)));
    std::snprintf(name, name_size, "%s.tmp.%ld.%016llx", path, pid, suffix);
  }
}

// On a name clash the next name is tried; whatever holds the name is someone
// else's (another run with the same PID, a stale file, a planted link) and is
// never touched. `name` receives the name that was linked.
int link_under_temp_name(int fd, const char* path, char* name, std::size_t name_size) {
  const std::uint64_t seed = name_seed();
  for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
    temp_name(path, attempt, seed, name, name_size);
    if (out_link_descriptor(fd, name) == 0) return 0;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// linkat through /proc fails this way when /proc is not mounted or the file
// system cannot link such a file; the named temporary still works there.
bool link_unsupported(int error) {
  return error == ENOENT || error == EOPNOTSUPP || error == EPERM || error == EXDEV || error == EACCES ||
         error == ENOSYS;
}

// O_TMPFILE fails this way on file systems without it (EOPNOTSUPP) and on
// kernels older than it (EISDIR, EINVAL).
bool anonymous_unsupported(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

enum class Placement { failed, unsupported, as_target, as_temp };

// Gives the written file its first name: the target's own when there is no
// target (then no other name ever exists), else a fresh temporary name.
Placement link_into_place(int fd, const char* path, bool absent, char* name, std::size_t name_size) {
  if (absent) {
    if (out_link_descriptor(fd, path) == 0) return Placement::as_target;
    if (errno != EEXIST) return link_unsupported(errno) ? Placement::unsupported : Placement::failed;
    // Someone made the target meanwhile: replace it as if it had been there.
  }
  if (link_under_temp_name(fd, path, name, name_size) == 0) return Placement::as_temp;
  return link_unsupported(errno) ? Placement::unsupported : Placement::failed;
}

// The file has no name while it is written: a run killed at any moment until
// the link leaves nothing behind, and the kernel frees the blocks.
int open_anonymous_file(const char* path, OutputStream* out) {
  directory_of(path, out->scratch);
  const int fd = out_open(out->scratch, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return anonymous_unsupported(errno) ? ANONYMOUS_UNSUPPORTED : -1;
  out->file = out_fdopen(fd, "wb");
  if (out->file == nullptr) {
    ::close(fd);
    return -1;
  }
  out->kind = OutputStream::Kind::anonymous;
  return 0;
}

// Creates a new temporary file exclusively. O_EXCL|O_NOFOLLOW refuses any
// existing entry, including a link planted under the predictable name; the
// next name is tried then. `name` receives the name that was created.
int create_temp_file(const char* path, char* name, std::size_t name_size) {
  constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const std::uint64_t seed = name_seed();
  for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
    temp_name(path, attempt, seed, name, name_size);
    const int fd = out_open(name, flags, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Where anonymous files are not available: the file is written under a
// temporary name beside the target and renamed over it.
int open_named_file(const char* path, OutputStream* out) {
  const int fd = create_temp_file(path, out->scratch, out->scratch_size);
  if (fd < 0) return -1;
  out->file = out_fdopen(fd, "wb");
  if (out->file == nullptr) {
    ::close(fd);
    ::unlink(out->scratch);
    return -1;
  }
  out->kind = OutputStream::Kind::named;
  return 0;
}

int open_replacement(const char* path, bool absent, bool anonymous, OutputStream* out) {
  const std::size_t length = std::strlen(path);
  out->scratch_size = length + TEMP_SUFFIX_ROOM;
  out->names.reset(static_cast<char*>(mem_alloc(length + 1 + out->scratch_size)));
  if (!out->names) return -1;
  out->path = out->names.get();
  out->scratch = out->path + length + 1;
  std::memcpy(out->path, path, length + 1);
  out->absent = absent;
  const int opened = anonymous ? open_anonymous_file(path, out) : ANONYMOUS_UNSUPPORTED;
  return opened == ANONYMOUS_UNSUPPORTED ? open_named_file(path, out) : opened;
}

// A device or FIFO is written as a shell's `>` would write it: replacing it
// would turn it into a regular file, and a stream has no old contents to
// keep. The open does not wait: a FIFO that nobody reads fails at once with
// ENXIO instead of hanging the run (a reader that comes later would have to
// be started first). Once open, writes block as usual, so a slow reader is
// waited for. The type is checked again on the open file, because the entry
// may have been replaced since it was looked at.
int open_through(const char* path, OutputStream* out) {
  const int fd = out_open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct stat opened;
  if (out_fstat(fd, &opened) != 0 || !is_stream(opened.st_mode) || out_set_blocking(fd) != 0) {
    ::close(fd);
    return -1;
  }
  out->file = out_fdopen(fd, "wb");
  if (out->file == nullptr) {
    ::close(fd);
    return -1;
  }
  out->kind = OutputStream::Kind::through;
  return 0;
}

void use_standard_output(OutputStream* out) {
  out->kind = OutputStream::Kind::standard_output;
  out->file = stdout;
}

int open_path(const char* path, OutputStream* out) {
  if (path[0] == '\0') return -1;  // no file has an empty name
  Target target = Target::refused;
  if (classify_target(path, &target) != 0) return -1;
  switch (target) {
    case Target::absent: return open_replacement(path, true, true, out);
    case Target::replaceable: return open_replacement(path, false, true, out);
    case Target::stream: return open_through(path, out);
    case Target::standard_output: use_standard_output(out); return 0;
    case Target::refused: break;
  }
  return -1;
}

// Names the finished anonymous file: the target when there was none, else a
// temporary renamed over the target. Only names this run made are removed on
// failure: the target when it linked it there itself, or its temporary.
int place_anonymous_file(OutputStream* out) {
  const char* path = out->path;
  char* scratch = out->scratch;
  const Placement placement = link_into_place(::fileno(out->file), path, out->absent, scratch, out->scratch_size);
  const bool closed = out_fclose(out->file) == 0;
  out->file = nullptr;
  if (placement == Placement::failed) return -1;
  if (placement == Placement::unsupported) return ANONYMOUS_UNSUPPORTED;
  const char* linked = placement == Placement::as_target ? path : scratch;
  if (!closed || (placement == Placement::as_temp && out_rename(scratch, path) != 0)) {
    ::unlink(linked);
    return -1;
  }
  return 0;
}

int place_named_file(OutputStream* out) {
  const bool closed = out_fclose(out->file) == 0;
  out->file = nullptr;
  if (!closed || out_rename(out->scratch, out->path) != 0) {
    ::unlink(out->scratch);
    return -1;
  }
  return 0;
}

// ANONYMOUS_UNSUPPORTED when the anonymous file cannot be named on this
// system (no /proc, a file system that cannot link it); nothing is left then.
int commit_replacement(OutputStream* out) {
  if (!flush_all(out->file, true)) return -1;
  const int placed = out->kind == OutputStream::Kind::anonymous ? place_anonymous_file(out) : place_named_file(out);
  if (placed == 0) sync_parent_directory(out->path, out->scratch);
  return placed;
}

// Past a file-size limit (ulimit -f) the kernel sends SIGXFSZ, whose default
// kills the process with no message and, before anonymous files, left the
// temporary behind. Ignored, the write fails with EFBIG instead and the
// failure takes the ordinary path: cleanup, IO_ERROR, old target intact.
// It is set here, not in each program's main, because every program that
// delivers a file goes through this writer and none can then forget it; a
// handler that a program installed itself is left in place.
void ignore_file_size_signal() {
  struct sigaction current {};
  if (::sigaction(SIGXFSZ, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace

OutputStream::~OutputStream() { abort_output(this); }

int open_output(const char* path, OutputStream* out) {
  abort_output(out);
  ignore_file_size_signal();
  if (path == nullptr) {
    use_standard_output(out);
    return 0;
  }
  if (open_path(path, out) != 0) {
    abort_output(out);
    return -1;
  }
  return 0;
}

int append_output(OutputStream* out, const std::uint8_t* bytes, std::uint64_t length) {
  if (out->file == nullptr || out->failed) return -1;
  if (length == 0) return 0;
  if (out_fwrite(bytes, 1, length, out->file) != length) {
    out->failed = true;
    return -1;
  }
  return 0;
}

namespace {

// commit_output, telling an anonymous file that could not be named apart.
int commit_stream(OutputStream* out) {
  if (out->file == nullptr || out->failed) {
    abort_output(out);
    return -1;
  }
  int committed = -1;
  switch (out->kind) {
    case OutputStream::Kind::standard_output:
      committed = flush_all(out->file, false) ? 0 : -1;
      out->file = nullptr;
      break;
    case OutputStream::Kind::through: {
      const bool flushed = flush_all(out->file, false);
      const bool closed = out_fclose(out->file) == 0;
      out->file = nullptr;
      committed = flushed && closed ? 0 : -1;
      break;
    }
    case OutputStream::Kind::anonymous:
    case OutputStream::Kind::named: committed = commit_replacement(out); break;
    case OutputStream::Kind::none: break;
  }
  abort_output(out);
  return committed;
}

}  // namespace

int commit_output(OutputStream* out) { return commit_stream(out) == 0 ? 0 : -1; }

void abort_output(OutputStream* out) {
  if (out->file != nullptr && out->kind != OutputStream::Kind::standard_output) {
    out_fclose(out->file);
    if (out->kind == OutputStream::Kind::named) ::unlink(out->scratch);
  }
  out->file = nullptr;
  out->kind = OutputStream::Kind::none;
  out->failed = false;
  out->absent = false;
  out->names.reset();
  out->path = nullptr;
  out->scratch = nullptr;
  out->scratch_size = 0;
}

int write_output(const char* path, const std::uint8_t* bytes, std::uint64_t length) {
  OutputStream out;
  if (open_output(path, &out) != 0 || append_output(&out, bytes, length) != 0) return -1;
  const bool absent = out.absent;
  const int committed = commit_stream(&out);
  if (committed != ANONYMOUS_UNSUPPORTED) return committed;
  // The image is at hand: written again under a temporary name.
  if (open_replacement(path, absent, false, &out) != 0 || append_output(&out, bytes, length) != 0) return -1;
  return commit_stream(&out);
}

}  // namespace kdsp
