// record_args: a program for the launch tests. Writes what it was started with to the file that
// $RECORD_ARGS_OUT names, one "key=value" line each: whether standard input and output are /dev/null, then
// every argv element (argv[0] first) as hex, so that any byte survives. Writes to a temporary name first and
// renames, so that a reader never sees half a record.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool IsDevNull(int fd) {
  struct stat st;
  struct stat null;
  return fstat(fd, &st) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == null.st_rdev;
}

std::string Hex(const char* text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    out += kDigits[*p >> 4];
    out += kDigits[*p & 0xF];
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* out = std::getenv("RECORD_ARGS_OUT");
  if (out == nullptr || *out == '\0') return 2;
  std::string record;
  record += std::string("stdin=") + (IsDevNull(STDIN_FILENO) ? "null" : "other") + "\n";
  record += std::string("stdout=") + (IsDevNull(STDOUT_FILENO) ? "null" : "other") + "\n";
  for (int i = 0; i < argc; ++i) record += "arg=" + Hex(argv[i]) + "\n";
  const std::string temporary = std::string(out) + ".part";
  FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return 3;
  const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
  if (std::fclose(file) != 0 || !written) return 4;
  return std::rename(temporary.c_str(), out) == 0 ? 0 : 5;
}
