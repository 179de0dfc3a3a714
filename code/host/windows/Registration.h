#pragma once
// Everything that registering the control writes under HKEY_CLASSES_ROOT, as plain data: DllRegisterServer writes
// it, DllUnregisterServer removes it, and an installer can be generated from the same table. No platform headers,
// so that a native build tool can include it too.
#include <cstdint>
#include <string>
#include <string_view>

// The identifiers of the type library (KadroOA.idl holds the same ones).
#define KADROOA_LIBID "{0DCFFA92-C8D5-47FE-B7C9-51510638ABCB}"
#define KADROOA_IID_KADROOCX "{B153F580-9DE6-4D21-B6D5-706B7901C156}"
#define KADROOA_DIID_KADROOCX_EVENTS "{47A5EC10-653E-4653-996A-7CC527123427}"
#define KADROOA_CLSID "{D8111B34-38F1-493A-8A93-C972ED6C6CEE}"
#define KADROOA_PROGID "KadroOA.KadroOcx"
#define KADROOA_PROGID_VERSIONED KADROOA_PROGID ".1"

// Placeholders that registration replaces: the server's full path, its directory, and the type library's platform
// subkey ("win32" for the x86 build, "win64" for the x64 one).
#define KADROOA_MODULE "$(Module)"
#define KADROOA_MODULE_DIR "$(ModuleDir)"
#define KADROOA_TYPELIB_PLATFORM "$(TypeLibPlatform)"

namespace kadroo::registration {

inline constexpr char kClsid[] = KADROOA_CLSID;
inline constexpr char kLibid[] = KADROOA_LIBID;
inline constexpr char kProgId[] = KADROOA_PROGID;
inline constexpr char kVersionedProgId[] = KADROOA_PROGID_VERSIONED;

// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE | SETCLIENTSITEFIRST.
inline constexpr uint32_t kMiscStatus = 0x00020191;

// One registry key, and optionally one string value in it. `name` null: the key alone (it is created, and removed
// again once empty); "" names the key's default value.
struct Entry {
  const char* key;
  const char* name;
  const char* value;
};

// Keys that start so are seen alike from the 32-bit and the 64-bit registry view (only CLSID and Interface are
// kept apart), and both builds write them: while the other build's type library entry (win32 or win64) is there,
// unregistering one build leaves them, removing only its own platform entry.
inline constexpr const char* kSharedKeyPrefixes[] = {KADROOA_PROGID, "TypeLib\\"};

// Parents come before their children: registering walks the table forwards, unregistering backwards. A key that
// the table names is removed on unregistering only once nothing else is left in it; keys it does not name
// (CLSID, TypeLib, Interface) are never removed.
inline constexpr Entry kEntries[] = {
    {"CLSID\\" KADROOA_CLSID, "", "KadroOcx"},
    {"CLSID\\" KADROOA_CLSID "\\InprocServer32", "", KADROOA_MODULE},
    {"CLSID\\" KADROOA_CLSID "\\InprocServer32", "ThreadingModel", "Apartment"},
    {"CLSID\\" KADROOA_CLSID "\\ProgID", "", KADROOA_PROGID_VERSIONED},
    {"CLSID\\" KADROOA_CLSID "\\VersionIndependentProgID", "", KADROOA_PROGID},
    {"CLSID\\" KADROOA_CLSID "\\Control", nullptr, nullptr},
    {"CLSID\\" KADROOA_CLSID "\\TypeLib", "", KADROOA_LIBID},
    {"CLSID\\" KADROOA_CLSID "\\Version", "", "1.0"},
    {"CLSID\\" KADROOA_CLSID "\\MiscStatus", "", "0"},
    {"CLSID\\" KADROOA_CLSID "\\MiscStatus\\1", "", "131473"},

    {KADROOA_PROGID, "", "KadroOcx"},
    {KADROOA_PROGID "\\CLSID", "", KADROOA_CLSID},
    {KADROOA_PROGID "\\CurVer", "", KADROOA_PROGID_VERSIONED},
    {KADROOA_PROGID_VERSIONED, "", "KadroOcx"},
    {KADROOA_PROGID_VERSIONED "\\CLSID", "", KADROOA_CLSID},

    {"TypeLib\\" KADROOA_LIBID, nullptr, nullptr},
    {"TypeLib\\" KADROOA_LIBID "\\1.0", "", "KadroOA"},
    {"TypeLib\\" KADROOA_LIBID "\\1.0\\FLAGS", "", "0"},
    {"TypeLib\\" KADROOA_LIBID "\\1.0\\HELPDIR", "", KADROOA_MODULE_DIR},
    {"TypeLib\\" KADROOA_LIBID "\\1.0\\0", nullptr, nullptr},
    {"TypeLib\\" KADROOA_LIBID "\\1.0\\0\\" KADROOA_TYPELIB_PLATFORM, "", KADROOA_MODULE},

    // Calls from another apartment are marshalled by the type library (oleaut32's universal marshaller).
    {"Interface\\" KADROOA_IID_KADROOCX, "", "_KadroOcx"},
    {"Interface\\" KADROOA_IID_KADROOCX "\\ProxyStubClsid", "", "{00020424-0000-0000-C000-000000000046}"},
    {"Interface\\" KADROOA_IID_KADROOCX "\\ProxyStubClsid32", "", "{00020424-0000-0000-C000-000000000046}"},
    {"Interface\\" KADROOA_IID_KADROOCX "\\TypeLib", "", KADROOA_LIBID},
    {"Interface\\" KADROOA_IID_KADROOCX "\\TypeLib", "Version", "1.0"},
    {"Interface\\" KADROOA_DIID_KADROOCX_EVENTS, "", "__KadroOcx"},
    {"Interface\\" KADROOA_DIID_KADROOCX_EVENTS "\\ProxyStubClsid", "", "{00020420-0000-0000-C000-000000000046}"},
    {"Interface\\" KADROOA_DIID_KADROOCX_EVENTS "\\ProxyStubClsid32", "", "{00020420-0000-0000-C000-000000000046}"},
    {"Interface\\" KADROOA_DIID_KADROOCX_EVENTS "\\TypeLib", "", KADROOA_LIBID},
    {"Interface\\" KADROOA_DIID_KADROOCX_EVENTS "\\TypeLib", "Version", "1.0"},
};

// Whether both registry views see the entry's key alike; the type library's platform entry never is.
inline bool IsPlatformEntry(const Entry& entry) {
  return std::string_view(entry.key).find(KADROOA_TYPELIB_PLATFORM) != std::string_view::npos;
}
inline bool IsShared(const Entry& entry) {
  if (IsPlatformEntry(entry)) return false;
  for (const std::string_view prefix : kSharedKeyPrefixes) {
    if (std::string_view(entry.key).substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

// What the placeholders stand for, in the text of the registry (String: std::wstring) or of an installer
// (std::string); the table is ASCII.
template <typename String>
struct Placeholders {
  String module, moduleDir, platform;

  String Expand(const char* text) const {
    String result = Widened(text);
    ReplaceAll(result, Widened(KADROOA_MODULE), module);
    ReplaceAll(result, Widened(KADROOA_MODULE_DIR), moduleDir);
    ReplaceAll(result, Widened(KADROOA_TYPELIB_PLATFORM), platform);
    return result;
  }

 private:
  static String Widened(std::string_view ascii) { return String(ascii.begin(), ascii.end()); }
  static void ReplaceAll(String& text, const String& from, const String& to) {
    for (size_t at = text.find(from); at != String::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
};

}  // namespace kadroo::registration
