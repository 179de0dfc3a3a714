// Writes the WiX source of the control's installer: the builds under Program Files, each registered in its own
// registry view with the entries of the registration table that DllRegisterServer writes, so that the package and
// regsvr32 cannot come to differ. A build tool: it runs on the build machine, never on a clerk's.
//
//   WixSource X86-OCX X64-OCX > KadroOA.wxs ; wixl -a x64 -o KadroOA.msi KadroOA.wxs          (64-bit Windows)
//   WixSource X86-OCX > KadroOA-x86.wxs ; wixl -a x86 -o KadroOA-x86.msi KadroOA-x86.wxs      (32-bit Windows)
#include <iostream>
#include <string>
#include <string_view>

#include "host/windows/Registration.h"

namespace {

struct Build {
  const char* component;
  const char* componentGuid;
  const char* programFiles;
  const char* directory;
  const char* file;
  const char* win64;
  const char* typeLibPlatform;
  const char* source;
};

std::string Xml(std::string_view text) {
  std::string result;
  for (const char c : text) {
    switch (c) {
      case '&': result += "&amp;"; break;
      case '<': result += "&lt;"; break;
      case '>': result += "&gt;"; break;
      case '"': result += "&quot;"; break;
      default: result += c;
    }
  }
  return result;
}

// The table's placeholders as Windows Installer formats them at install time: [#File] is the installed file's full
// path, [Directory] its folder (with a trailing backslash).
kadroo::registration::Placeholders<std::string> PlaceholdersOf(const Build& build) {
  return {std::string("[#") + build.file + "]", std::string("[") + build.directory + "]", build.typeLibPlatform};
}

// `withShared`: also the entries that both registry views see alike (ProgIDs, the type library but its platform
// entry). In the package with both builds only the x64 component writes them, once, with the values that
// registering the x86 build and then the x64 one leaves.
void WriteBuild(std::ostream& out, const Build& build, bool withShared) {
  out << "      <Directory Id=\"" << build.programFiles << "\">\n"
      << "        <Directory Id=\"" << build.directory << "\" Name=\"KadroOA\">\n"
      << "          <Component Id=\"" << build.component << "\" Guid=\"" << build.componentGuid << "\" Win64=\""
      << build.win64 << "\">\n"
      << "            <File Id=\"" << build.file << "\" Name=\"KadroOA.ocx\" Source=\"" << Xml(build.source)
      << "\" KeyPath=\"yes\"/>\n";
  const auto placeholders = PlaceholdersOf(build);
  for (const kadroo::registration::Entry& entry : kadroo::registration::kEntries) {
    if (!withShared && kadroo::registration::IsShared(entry)) continue;
    out << "            <RegistryValue Root=\"HKCR\" Key=\"" << Xml(placeholders.Expand(entry.key)) << "\"";
    if (entry.name == nullptr) {
      // A key without values: the name "*" with no value creates it on install and removes it on uninstall
      // (the Installer stores an empty string as null).
      out << " Name=\"*\" Type=\"string\" Value=\"\"";
    } else {
      if (*entry.name) out << " Name=\"" << Xml(entry.name) << "\"";
      out << " Type=\"string\" Value=\"" << Xml(placeholders.Expand(entry.value)) << "\"";
    }
    out << "/>\n";
  }
  out << "          </Component>\n"
      << "        </Directory>\n"
      << "      </Directory>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: " << argv[0] << " X86-OCX [X64-OCX]\n";
    return 2;
  }
  const bool both = argc == 3;
  const Build x86{"KadroOA32", "{C37938E5-6A3D-437A-9325-054F9C01C19B}", "ProgramFilesFolder", "INSTALLDIR32",
                  "KadroOA32.ocx", "no", "win32", argv[1]};
  const Build x64{"KadroOA64", "{62BC2440-FA61-4D87-8677-EBE012D582D2}", "ProgramFiles64Folder", "INSTALLDIR64",
                  "KadroOA64.ocx", "yes", "win64", both ? argv[2] : ""};
  std::ostream& out = std::cout;
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      << "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      << "  <Product Id=\"*\" Name=\"KadroOA\" Language=\"1033\" Version=\"2.42.0\" Manufacturer=\"KadroOA\"\n"
      << "           UpgradeCode=\"{0A8BDDE9-3BD1-41F1-AAC2-31CF93A07F69}\">\n"
      << "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"\n"
      << "             Description=\"KadroOA control, " << (both ? "x86 and x64" : "x86") << "\"/>\n"
      << "    <Media Id=\"1\" Cabinet=\"KadroOA.cab\" EmbedCab=\"yes\"/>\n"
      << "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
  WriteBuild(out, x86, !both);
  if (both) WriteBuild(out, x64, true);
  out << "    </Directory>\n"
      << "    <Feature Id=\"Control\" Level=\"1\">\n"
      << "      <ComponentRef Id=\"" << x86.component << "\"/>\n"
      << (both ? std::string("      <ComponentRef Id=\"") + x64.component + "\"/>\n" : std::string())
      << "    </Feature>\n"
      << "  </Product>\n"
      << "</Wix>\n";
  return out ? 0 : 1;
}
