#pragma once
// Shared by the desktop tests: a temporary directory, file writing, and a control over the real Linux
// registry and process start with fakes for the rest of the platform.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "control/KadroOcx.h"
#include "host/posix/PosixLocalFiles.h"
#include "host/posix/process/PosixProcesses.h"
#include "host/posix/registry/FileRegistry.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace kadroo::testing {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The text as a UTF-16LE file with its byte-order mark, as the registry editor exports.
inline std::string Utf16File(TextView text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

inline std::string Utf8(TextView text) { return ToUtf8Lossy(text); }

// The number of the run-time error `call` raised, or 0 when it raised none.
inline int32_t RuntimeErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const RuntimeError& error) {
    return error.number();
  }
  return 0;
}

// A control whose registry reads the .reg files of a temporary directory, found through KADROOA_REGISTRY.
class DesktopTest : public ::testing::Test {
 protected:
  explicit DesktopTest(std::string charset = "UTF-8") : codePage(std::move(charset)) {
    ::setenv("KADROOA_REGISTRY", registryDir.c_str(), 1);
    registry = std::make_unique<posix::FileRegistry>(codePage, posix::FileRegistry::DefaultDirectory());
    platform = std::make_unique<Platform>(Platform{fake.lastError, fake.files, fake.prompt, codePage, fake.ftp,
                                                   *registry, processes});
    control = std::make_unique<KadroOcx>(*platform);
  }
  ~DesktopTest() override { ::unsetenv("KADROOA_REGISTRY"); }

  void WriteReg(const std::string& name, const std::string& bytes) { WriteBytes(registryDir + "/" + name, bytes); }
  void WriteReg5(const std::string& name, const std::string& body) {
    WriteReg(name, "Windows Registry Editor Version 5.00\r\n\r\n" + body);
  }

  // Leaves a known message behind, so that a test can see that a later call did not touch it.
  void LeaveMessage() {
    ASSERT_EQ(control->OpenExefile(u"", u""), -1);
    ASSERT_EQ(control->getErrorMsg(), u"文件不存在：");
  }

  TempDir temp;
  std::string registryDir = temp / "registry";
  FakePlatform fake;
  posix::LocaleCodePage codePage;
  std::unique_ptr<posix::FileRegistry> registry;
  posix::PosixProcesses processes{codePage};
  std::unique_ptr<Platform> platform;
  std::unique_ptr<KadroOcx> control;
};

}  // namespace kadroo::testing
