#!/usr/bin/python3
"""Builds the browser side into OUT: kadroo.js (module, classic script, declarations, package.json), the extension
for Chromium (a signed CRX3 and its update.xml) and Firefox (an XPI), the host manifests, and the Debian package
kadrooa_VERSION_ARCH.deb holding them with the host program.

usage: build.py OUT KADROOA_BINARY [--version V]
       build.py --library OUT     (kadroo.js alone, for the tests under Wine)
       build.py --windows OUT     (the host manifests and the packed extension for the Windows installer)

The extension's key (which gives the Chromium id) and Firefox's add-on come from outside the sources:
  KADROOA_EXTENSION_KEY=PEM   the organisation's RSA private key; without it a development build makes its own,
                              OUT/../extension-key.pem, and keeps it for later builds in the same folder
  KADROOA_SIGNED_XPI=XPI      the add-on as Mozilla signed it (web-ext sign --channel=unlisted); its id is taken
  KADROOA_FIREFOX_ID=ID       the add-on id of an unsigned XPI (to send to Mozilla for signing)
--version gives the extension and the package another version (the tests' update of the extension).
"""
import base64
import hashlib
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
BROWSER = os.path.dirname(HERE)
HOST_NAME = "org.kadrooa.host"
DEFAULT_GECKO_ID = "kadrooa@kadrooa.org"
SHARE = "/usr/share/kadrooa"
HOST_PATH = "/usr/bin/kadrooa"
READER_NAME = "org.kadrooa.origins"
READER_PATH = "/usr/lib/kadrooa/kadrooa-origins"


class Signing:
    """The key the CRX is signed with and the Firefox add-on's id and signed XPI, if any."""

    def __init__(self, out):
        self.key = os.environ.get("KADROOA_EXTENSION_KEY") or os.path.join(os.path.dirname(os.path.abspath(out)),
                                                                           "extension-key.pem")
        if os.environ.get("KADROOA_EXTENSION_KEY"):
            if not os.path.isfile(self.key):
                sys.exit(f"build.py: no key at {self.key} (KADROOA_EXTENSION_KEY)")
        elif not os.path.exists(self.key):
            # A development build's own key: its id is this build folder's; a release gives its key from outside.
            os.makedirs(os.path.dirname(self.key), exist_ok=True)
            old = os.umask(0o077)
            try:
                subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                                "-out", self.key], check=True, capture_output=True)
            finally:
                os.umask(old)
            print(f"build.py: made a development key for the extension, {self.key}", file=sys.stderr)
        self.der = subprocess.run(["openssl", "pkey", "-in", self.key, "-pubout", "-outform", "DER"], check=True,
                                  capture_output=True).stdout
        self.chromium_id = chromium_id(self.der)
        self.signed_xpi = os.environ.get("KADROOA_SIGNED_XPI") or None
        self.gecko_id = os.environ.get("KADROOA_FIREFOX_ID") or DEFAULT_GECKO_ID
        if self.signed_xpi:
            self.gecko_id = signed_xpi_id(self.signed_xpi)


def signed_xpi_id(path):
    try:
        with zipfile.ZipFile(path) as z:
            names = set(z.namelist())
            manifest = json.loads(z.read("manifest.json"))
    except (OSError, KeyError, ValueError, zipfile.BadZipFile) as e:
        sys.exit(f"build.py: {path} is not an add-on ({e})")
    if not names & {"META-INF/cose.sig", "META-INF/mozilla.rsa"}:
        sys.exit(f"build.py: {path} carries no Mozilla signature (META-INF/cose.sig, META-INF/mozilla.rsa)")
    gecko = manifest.get("browser_specific_settings", manifest.get("applications", {})).get("gecko", {})
    if not gecko.get("id"):
        sys.exit(f"build.py: {path} names no add-on id")
    return gecko["id"]


def check_signed_xpi(path, files):
    """The signed add-on must be this build's extension: the same version and the same scripts."""
    with zipfile.ZipFile(path) as z:
        manifest = json.loads(z.read("manifest.json"))
        ours = dict(files)
        if manifest.get("version") != json.loads(ours["manifest.json"])["version"]:
            sys.exit(f"build.py: {path} is version {manifest.get('version')}, the sources are "
                     f"{json.loads(ours['manifest.json'])['version']}")
        for name, data in files:
            if name != "manifest.json" and z.read(name) != data:
                sys.exit(f"build.py: {path} holds another {name} than the sources: sign this build's XPI")
    with open(path, "rb") as f:
        return f.read()


def chromium_id(der):
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(der).hexdigest()[:32])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def write_json(path, value):
    write(path, json.dumps(value, indent=2, ensure_ascii=False) + "\n")


def zip_bytes(files):
    """A zip of (name, bytes) with fixed times, so the same sources give the same archive."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files:
            z.writestr(zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0)), data, zipfile.ZIP_DEFLATED)
    return buffer.getvalue()


def extension_files(browser, signing, version=None):
    with open(os.path.join(BROWSER, "extension", "manifest.json")) as f:
        manifest = json.load(f)
    if version:
        manifest["version"] = version
    if browser == "chromium":
        manifest["key"] = base64.b64encode(signing.der).decode()
    else:
        # Firefox runs the same worker script as an event page, and needs its add-on id.
        manifest["background"] = {"scripts": [manifest["background"]["service_worker"]]}
        manifest["browser_specific_settings"] = {"gecko": {"id": signing.gecko_id, "strict_min_version": "128.0"}}
    files = [("manifest.json", json.dumps(manifest, indent=2).encode())]
    for name in ("background.js", "content.js", "schema.json"):
        with open(os.path.join(BROWSER, "extension", name), "rb") as f:
            files.append((name, f.read()))
    return manifest["version"], files


def protobuf_field(number, payload):
    def varint(n):
        out = bytearray()
        while True:
            byte, n = n & 0x7F, n >> 7
            out.append(byte | (0x80 if n else 0))
            if not n:
                return bytes(out)
    return varint(number << 3 | 2) + varint(len(payload)) + payload


def crx3(archive, der, key):
    """A CRX3 file: the zip signed with the extension's key (the format Chromium checks before installing)."""
    signed_data = protobuf_field(1, hashlib.sha256(der).digest()[:16])
    message = b"CRX3 SignedData\x00" + struct.pack("<I", len(signed_data)) + signed_data + archive
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=message, check=True,
                               capture_output=True).stdout
    header = (protobuf_field(2, protobuf_field(1, der) + protobuf_field(2, signature)) +
              protobuf_field(10000, signed_data))
    return b"Cr24" + struct.pack("<II", 3, len(header)) + header + archive


def page_library(out):
    with open(os.path.join(BROWSER, "lib", "kadroo.mjs")) as f:
        module = f.read()
    # The classic script is the module in a function scope, its exports replaced by one global. It must parse in
    # Internet Explorer's JScript too, so it gets nothing newer than the module's body already is.
    exports = "export { KadroOAError, KadroOA };\nexport default KadroOA;\n"
    if not module.endswith(exports) or "export " in module[:-len(exports)]:
        sys.exit("build.py: kadroo.mjs must end with its two export lines and export nothing else")
    write(os.path.join(out, "kadroo.mjs"), module)
    # ASCII alone, its Chinese texts as \u escapes: Windows Script Host reads a script in the ANSI code page.
    classic = ("// Generated from kadroo.mjs by browser/package/build.py: the same library as a classic script.\n"
               "(function (global) {\n\"use strict\";\n" + module[:-len(exports)] +
               "global.KadroOA = KadroOA;\n})(typeof globalThis !== \"undefined\" ? globalThis : this);\n")
    write(os.path.join(out, "kadroo.js"), classic.encode("ascii", "backslashreplace").decode("ascii"))
    for name in ("kadroo.d.ts", "package.json", "README.md"):
        shutil.copy(os.path.join(BROWSER, "lib", name), out)


def packed_extension(folder, url, signing, version, chromium_files, firefox_files, xpi_name):
    """kadrooa.crx and its update.xml (which names it at `url`, the folder as the browsers will find it), and the
    XPI: the signed one when given, else this build's."""
    ext_id = signing.chromium_id
    write(os.path.join(folder, "kadrooa.crx"), crx3(zip_bytes(chromium_files), signing.der, signing.key))
    write(os.path.join(folder, xpi_name),
          check_signed_xpi(signing.signed_xpi, firefox_files) if signing.signed_xpi else zip_bytes(firefox_files))
    write(os.path.join(folder, "update.xml"),
          "<?xml version='1.0' encoding='UTF-8'?>\n"
          "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>\n"
          f"  <app appid='{ext_id}'>\n"
          f"    <updatecheck codebase='{url}kadrooa.crx' version='{version}' />\n"
          "  </app>\n</gupdate>\n")


# Where the Windows installer puts the extension when the administrator asks for the browsers' policies.
WINDOWS_EXTENSION_URL = "file:///C:/Program%20Files/KadroOA/extension/"


def windows_side(out):
    """What the Windows installer takes from here: the host manifests (the host beside them, as Windows allows a
    relative path), the packed extension and the ids, for code/host/windows/installer/WixSource.cpp. There the
    reader of the listed sites is kadrooa.exe too: it answers kadrooa.origins before a handshake."""
    shutil.rmtree(out, ignore_errors=True)
    signing = Signing(out)
    ext_id, gecko_id = signing.chromium_id, signing.gecko_id
    version, chromium_files = extension_files("chromium", signing)
    _, firefox_files = extension_files("firefox", signing)
    for name in (HOST_NAME, READER_NAME):
        host = {"name": name, "description": "KadroOA: the office system's document control", "path": "kadrooa.exe",
                "type": "stdio"}
        write_json(os.path.join(out, name + ".json"), dict(host, allowed_origins=[f"chrome-extension://{ext_id}/"]))
        write_json(os.path.join(out, name + ".firefox.json"), dict(host, allowed_extensions=[gecko_id]))
    packed_extension(os.path.join(out, "extension"), WINDOWS_EXTENSION_URL, signing, version, chromium_files,
                     firefox_files, "kadrooa.xpi")
    write(os.path.join(out, "ids"), f"{ext_id} {gecko_id} {WINDOWS_EXTENSION_URL}\n")


def main():
    if sys.argv[1] == "--library":
        page_library(sys.argv[2])
        return
    if sys.argv[1] == "--windows":
        windows_side(sys.argv[2])
        return
    out, binary = sys.argv[1], sys.argv[2]
    version = sys.argv[4] if sys.argv[3:4] == ["--version"] else None
    shutil.rmtree(out, ignore_errors=True)
    signing = Signing(out)
    ext_id, gecko_id = signing.chromium_id, signing.gecko_id
    version, chromium_files = extension_files("chromium", signing, version)
    _, firefox_files = extension_files("firefox", signing, version)
    # Firefox notices a new add-on by its address only: the version is in the XPI's name.
    xpi = f"kadrooa-{version}.xpi"

    root = os.path.join(out, "deb")
    share = root + SHARE
    page_library(os.path.join(share, "lib"))
    packed_extension(os.path.join(share, "extension"), f"file://{SHARE}/extension/", signing, version,
                     chromium_files, firefox_files, xpi)
    # The unpacked extensions too, for a developer's --load-extension.
    for browser, files in (("chromium", chromium_files), ("firefox", firefox_files)):
        for name, data in files:
            write(os.path.join(out, "extension-" + browser, name), data)
    write_json(os.path.join(share, "extension", "ids.json"),
               {"chromium": ext_id, "firefox": gecko_id, "version": version, "xpi": xpi,
                "signed": bool(signing.signed_xpi)})

    host = {"name": HOST_NAME, "description": "KadroOA: the office system's document control", "path": HOST_PATH,
            "type": "stdio"}
    reader = {"name": READER_NAME, "description": "KadroOA: the sites the administrator listed",
              "path": READER_PATH, "type": "stdio"}
    for manifest in (host, reader):
        for folder in ("etc/chromium", "etc/opt/chrome", "etc/opt/edge"):
            write_json(os.path.join(root, folder, "native-messaging-hosts", manifest["name"] + ".json"),
                       dict(manifest, allowed_origins=[f"chrome-extension://{ext_id}/"]))
        write_json(os.path.join(root, "usr/lib/mozilla/native-messaging-hosts", manifest["name"] + ".json"),
                   dict(manifest, allowed_extensions=[gecko_id]))
    # Where systemd runs, an edit of the policy is applied without a command.
    for name in ("kadrooa-policy.path", "kadrooa-policy.service"):
        with open(os.path.join(HERE, name)) as f:
            write(os.path.join(root, "lib/systemd/system", name), f.read())
    write(os.path.join(root, "etc/kadrooa/policy.json"),
          json.dumps({"sites": {}}, indent=2) + "\n")
    for name, folder in (("kadrooa-apply-policy", "usr/sbin"), ("kadrooa-origins", "usr/lib/kadrooa")):
        with open(os.path.join(HERE, name)) as f:
            write(os.path.join(root, folder, name), f.read())
        os.chmod(os.path.join(root, folder, name), 0o755)
    os.makedirs(os.path.join(root, "usr/bin"))
    shutil.copy(binary, os.path.join(root, "usr/bin/kadrooa"))
    subprocess.run(["strip", "--strip-unneeded", os.path.join(root, "usr/bin/kadrooa")], check=True)

    arch = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True, text=True).stdout.strip()
    debian = os.path.join(root, "DEBIAN")
    with open(os.path.join(HERE, "control")) as f:
        control = f.read().replace("@VERSION@", version).replace("@ARCH@", arch)
    write(os.path.join(debian, "control"), control)
    write(os.path.join(debian, "conffiles"), "/etc/kadrooa/policy.json\n")
    for name in ("postinst", "prerm", "postrm"):
        shutil.copy(os.path.join(HERE, name), debian)
        os.chmod(os.path.join(debian, name), 0o755)
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames:
            os.chmod(os.path.join(dirpath, name), 0o755)
        for name in filenames:
            path = os.path.join(dirpath, name)
            if not os.access(path, os.X_OK):
                os.chmod(path, 0o644)
    deb = os.path.join(out, f"kadrooa_{version}_{arch}.deb")
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, deb], check=True,
                   stdout=subprocess.DEVNULL)
    print(deb)


if __name__ == "__main__":
    main()
