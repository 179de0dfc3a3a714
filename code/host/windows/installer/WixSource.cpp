// Writes the WiX source of the control's installer: the builds under Program Files, each registered in its own
// registry view with the entries of the registration table that DllRegisterServer writes, so that the package and
// regsvr32 cannot come to differ; and the browsers' bridge: kadrooa.exe with its host manifests, registered for
// Chrome, Edge, Chromium and Firefox in both registry views, and, when the administrator sets EXTENSIONPOLICY=1,
// the extension with the browsers' policies that install it. A build tool: it runs on the build machine, never on
// a clerk's. Paths are relative to the folder of the .wxs, where wixl looks for them.
//
//   WixSource --ocx32 X86-OCX --ocx64 X64-OCX --host X64-EXE --bridge DIR --conditions Condition.idt > KadroOA.wxs
//   wixl -a x64 -o KadroOA.msi KadroOA.wxs ; msibuild KadroOA.msi -i Condition.idt          (64-bit Windows)
//   WixSource --ocx32 X86-OCX --host X86-EXE --bridge DIR ... ; wixl -a x86 ...            (32-bit Windows)
//
// DIR holds what `browser/package/build.py --windows DIR` writes: the manifests, extension/ and the ids.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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
  std::string source;
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

// The host, and the same program as the extension's reader of the sites the policy lists.
constexpr const char* kHostNames[] = {"org.kadrooa.host", "org.kadrooa.origins"};
// The property that switches the extension's policies on, and the feature it selects (see Condition.idt).
constexpr const char* kPolicyProperty = "EXTENSIONPOLICY";
constexpr const char* kPolicyFeature = "ExtensionPolicy";

struct Bridge {
  std::string folder;       // from build.py --windows
  std::string host;         // kadrooa.exe
  std::string chromiumId;   // the extension's ids
  std::string geckoId;
  std::string extensionUrl;  // where the installed extension is, as a URL (ends with '/')
};

// Where each browser looks for a native messaging host (HKLM, both registry views), and which manifest it reads
// (name.json, or name.firefox.json).
const std::vector<std::pair<std::string, std::string>> kHostKeys = {
    {"SOFTWARE\\Google\\Chrome\\NativeMessagingHosts\\", ".json"},
    {"SOFTWARE\\Microsoft\\Edge\\NativeMessagingHosts\\", ".json"},
    {"SOFTWARE\\Chromium\\NativeMessagingHosts\\", ".json"},
    {"SOFTWARE\\Mozilla\\NativeMessagingHosts\\", ".firefox.json"},
};

void RegistryValue(std::ostream& out, std::string_view key, std::string_view name, std::string_view value) {
  out << "            <RegistryValue Root=\"HKLM\" Key=\"" << Xml(key) << "\"";
  if (!name.empty()) out << " Name=\"" << Xml(name) << "\"";
  out << " Type=\"string\" Value=\"" << Xml(value) << "\"/>\n";
}

void HostKeys(std::ostream& out) {
  for (const char* name : kHostNames) {
    for (const auto& [key, manifest] : kHostKeys) {
      RegistryValue(out, key + name, "", std::string("[#") + name + manifest + "]");
    }
  }
}

// The extension's install policies: ExtensionSettings as one subkey per extension, so that an administrator's own
// entries beside it stay and the uninstall takes out only this one.
void PolicyKeys(std::ostream& out, const Bridge& bridge) {
  for (const char* browser : {"Google\\Chrome", "Microsoft\\Edge", "Chromium"}) {
    const std::string key = std::string("SOFTWARE\\Policies\\") + browser + "\\ExtensionSettings\\" + bridge.chromiumId;
    RegistryValue(out, key, "installation_mode", "force_installed");
    RegistryValue(out, key, "update_url", "[CHROMIUMEXTENSIONURL]");
  }
  const std::string key = "SOFTWARE\\Policies\\Mozilla\\Firefox\\ExtensionSettings\\" + bridge.geckoId;
  RegistryValue(out, key, "installation_mode", "force_installed");
  RegistryValue(out, key, "install_url", "[FIREFOXEXTENSIONURL]");
}

// The bridge's components in the folder of `build`. On 64-bit Windows the keys go into both registry views (32-bit
// browsers read the other one), all naming the one x64 host. Components of the 32-bit view have a registry key
// path; the 64-bit ones a file, which Wine's msiexec also finds again when removing them.
void WriteBridge(std::ostream& out, const Build& build, const Bridge& bridge, bool bothViews,
                 const std::map<std::string, std::string>& guids) {
  const bool win64 = std::string_view(build.win64) == "yes";
  out << "          <Component Id=\"Bridge\" Guid=\"" << guids.at("Bridge") << "\" Win64=\"" << build.win64 << "\">\n"
      << "            <File Id=\"Host\" Name=\"kadrooa.exe\" Source=\"" << Xml(bridge.host) << "\" KeyPath=\"yes\"/>\n";
  for (const char* name : kHostNames) {
    for (const char* manifest : {".json", ".firefox.json"}) {
      const std::string file = std::string(name) + manifest;
      out << "            <File Id=\"" << file << "\" Name=\"" << file << "\" Source=\"" << Xml(bridge.folder) << "/"
          << file << "\"/>\n";
    }
  }
  HostKeys(out);
  out << "          </Component>\n";
  if (bothViews && win64) {
    out << "          <Component Id=\"BridgeWow\" Guid=\"" << guids.at("BridgeWow") << "\" Win64=\"no\">\n";
    HostKeys(out);
    out << "          </Component>\n";
  }
  out << "          <Directory Id=\"EXTENSIONDIR\" Name=\"extension\">\n"
      << "          <Component Id=\"Policy\" Guid=\"" << guids.at("Policy") << "\" Win64=\"" << build.win64 << "\">\n"
      << "            <File Id=\"UpdateXml\" Name=\"update.xml\" Source=\"" << Xml(bridge.folder)
      << "/extension/update.xml\" KeyPath=\"yes\"/>\n";
  for (const auto& [id, file] : {std::pair{"Crx", "kadrooa.crx"}, std::pair{"Xpi", "kadrooa.xpi"}}) {
    out << "            <File Id=\"" << id << "\" Name=\"" << file << "\" Source=\"" << Xml(bridge.folder) << "/extension/"
        << file << "\"/>\n";
  }
  PolicyKeys(out, bridge);
  out << "          </Component>\n";
  if (bothViews && win64) {
    out << "          <Component Id=\"PolicyWow\" Guid=\"" << guids.at("PolicyWow") << "\" Win64=\"no\">\n";
    PolicyKeys(out, bridge);
    out << "          </Component>\n";
  }
  out << "          </Directory>\n";
}

// `withShared`: also the entries that both registry views see alike (ProgIDs, the type library but its platform
// entry). In the package with both builds only the x64 component writes them, once, with the values that
// registering the x86 build and then the x64 one leaves. `inside` writes more components into the same folder.
template <typename Inside>
void WriteBuild(std::ostream& out, const Build& build, bool withShared, Inside inside) {
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
  out << "          </Component>\n";
  inside();
  out << "        </Directory>\n"
      << "      </Directory>\n";
}

Bridge ReadBridge(const std::string& folder, const std::string& host) {
  Bridge bridge{folder, host, {}, {}, {}};
  std::ifstream ids(folder + "/ids");
  if (!(ids >> bridge.chromiumId >> bridge.geckoId >> bridge.extensionUrl)) {
    std::cerr << "cannot read " << folder << "/ids (made by browser/package/build.py --windows)\n";
    std::exit(2);
  }
  return bridge;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
  const auto option = [&](const char* name) { return options.count(name) ? options[name] : std::string(); };
  if (argc % 2 != 1 || option("--ocx32").empty() || option("--host").empty() || option("--bridge").empty() ||
      option("--conditions").empty() ||
      options.size() != 4u + options.count("--ocx64")) {
    std::cerr << "usage: " << argv[0]
              << " --ocx32 X86-OCX [--ocx64 X64-OCX] --host EXE --bridge DIR --conditions CONDITION-IDT\n";
    return 2;
  }
  const bool both = options.count("--ocx64") != 0;
  const Build x86{"KadroOA32", "{C37938E5-6A3D-437A-9325-054F9C01C19B}", "ProgramFilesFolder", "INSTALLDIR32",
                  "KadroOA32.ocx", "no", "win32", option("--ocx32")};
  const Build x64{"KadroOA64", "{62BC2440-FA61-4D87-8677-EBE012D582D2}", "ProgramFiles64Folder", "INSTALLDIR64",
                  "KadroOA64.ocx", "yes", "win64", option("--ocx64")};
  const Bridge bridge = ReadBridge(option("--bridge"), option("--host"));
  // Each package's bridge has components of its own: the x64 package's hold another host than the x86 one's.
  const std::map<std::string, std::string> guids =
      both ? std::map<std::string, std::string>{{"Bridge", "{3FC42566-54D2-4CB2-84EC-E427A29CE6E1}"},
                                                {"BridgeWow", "{AECF2C07-CD38-4163-9224-0CB31D97360D}"},
                                                {"Policy", "{F85F0C96-B9DB-4A8E-8932-9B8B1E070DCE}"},
                                                {"PolicyWow", "{6F9C38EC-43CD-4FD7-BB00-BCA30F2E7FC1}"}}
           : std::map<std::string, std::string>{{"Bridge", "{9B1C7997-5DCB-430F-B50E-AD0493557C95}"},
                                                {"Policy", "{A183B921-DBD2-4C9B-8589-94013A604513}"}};
  std::ostream& out = std::cout;
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      << "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      << "  <Product Id=\"*\" Name=\"KadroOA\" Language=\"1033\" Version=\"2.42.0\" Manufacturer=\"KadroOA\"\n"
      << "           UpgradeCode=\"{0A8BDDE9-3BD1-41F1-AAC2-31CF93A07F69}\">\n"
      << "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"\n"
      << "             Description=\"KadroOA control, " << (both ? "x86 and x64" : "x86") << "\"/>\n"
      << "    <Media Id=\"1\" Cabinet=\"KadroOA.cab\" EmbedCab=\"yes\"/>\n"
      // The administrator's choices, passed on to the elevated part of a per-machine install.
      << "    <Property Id=\"CHROMIUMEXTENSIONURL\" Value=\"" << Xml(bridge.extensionUrl) << "update.xml\"/>\n"
      << "    <Property Id=\"FIREFOXEXTENSIONURL\" Value=\"" << Xml(bridge.extensionUrl) << "kadrooa.xpi\"/>\n"
      << "    <Property Id=\"SecureCustomProperties\" Value=\"" << kPolicyProperty
      << ";CHROMIUMEXTENSIONURL;FIREFOXEXTENSIONURL\"/>\n"
      << "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
  // The bridge goes beside the package's own build: the x64 one where there are both.
  const Build& home = both ? x64 : x86;
  const auto bridgeIn = [&](const Build& build) {
    return [&out, &build, &home, &bridge, both, &guids] {
      if (&build == &home) WriteBridge(out, build, bridge, both, guids);
    };
  };
  WriteBuild(out, x86, !both, bridgeIn(x86));
  if (both) WriteBuild(out, x64, true, bridgeIn(x64));
  out << "    </Directory>\n"
      << "    <Feature Id=\"Control\" Level=\"1\">\n"
      << "      <ComponentRef Id=\"" << x86.component << "\"/>\n"
      << (both ? std::string("      <ComponentRef Id=\"") + x64.component + "\"/>\n" : std::string())
      << "    </Feature>\n"
      << "    <Feature Id=\"Bridge\" Level=\"1\">\n"
      << "      <ComponentRef Id=\"Bridge\"/>\n"
      << (both ? "      <ComponentRef Id=\"BridgeWow\"/>\n" : "")
      << "    </Feature>\n"
      // Not installed unless the condition (which wixl cannot write: Condition.idt, added by msibuild) selects it.
      << "    <Feature Id=\"" << kPolicyFeature << "\" Level=\"1000\">\n"
      << "      <ComponentRef Id=\"Policy\"/>\n"
      << (both ? "      <ComponentRef Id=\"PolicyWow\"/>\n" : "")
      << "    </Feature>\n"
      << "  </Product>\n"
      << "</Wix>\n";
  std::ofstream conditions(option("--conditions"));
  conditions << "Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n"
             << kPolicyFeature << "\t1\t" << kPolicyProperty << "=\"1\"\n";
  return out && conditions ? 0 : 1;
}
