#!/usr/bin/env bash
# tools/winget-manifest: the three files it writes, read back with a YAML parser, carry what winget's schema
# requires of each, agree on the package, its version and the manifest version, and hold exactly the URL and
# hash they were given; bad input is refused and writes nothing.
#
#   tests/winget_manifest.sh <tools directory>
set -euo pipefail
tools="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrin-winget.XXXXXX")"
trap 'rm -rf "$work"' EXIT

identifier=Kestrin.Kestrin
version=1.2.3
url="https://github.com/example/kestrin/releases/download/v$version/kestrin.exe"
sha256="$(printf 'kestrin' | sha256sum | cut -d' ' -f1)" # lower case, as sha256sum writes it
mkdir "$work/good"
"$tools/winget-manifest" "$identifier" "$version" "$url" "$sha256" "$work/good" https://github.com/example/kestrin

python3 - "$work/good" "$identifier" "$version" "$url" "$sha256" <<'EOF'
import os, re, sys, yaml

out, identifier, version, url, sha256 = sys.argv[1:]
failures = []
def check(ok, what):
    if not ok:
        failures.append(what)

# The schema's required fields of each manifest type, and its patterns.
required = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
                      "License", "ShortDescription", "ManifestType", "ManifestVersion"],
}
identifier_pattern = r'^[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}(\.[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}){1,7}$'
version_pattern = r'^[^\\/:\*\?"<>\|\x01-\x1f]+$'

files = {"version": f"{identifier}.yaml", "installer": f"{identifier}.installer.yaml",
         "defaultLocale": f"{identifier}.locale.en-US.yaml"}
check(sorted(os.listdir(out)) == sorted(files.values()), f"the files written: {sorted(os.listdir(out))}")
manifests = {}
for kind, name in files.items():
    with open(os.path.join(out, name), encoding="utf-8") as f:
        text = f.read()
    manifest = yaml.safe_load(text)
    manifests[kind] = manifest
    for field in required[kind]:
        check(field in manifest and manifest[field] not in (None, ""), f"{name}: no {field}")
    check(manifest.get("ManifestType") == kind, f"{name}: ManifestType {manifest.get('ManifestType')!r}")
    header = (f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}."
              f"{manifest.get('ManifestVersion')}.schema.json")
    check(text.splitlines()[0] == header, f"{name}: first line {text.splitlines()[0]!r}, not {header!r}")
    pid, pversion = manifest.get("PackageIdentifier"), manifest.get("PackageVersion")
    check(pid == identifier, f"{name}: PackageIdentifier {pid!r}")
    check(isinstance(pid, str) and len(pid) <= 128 and re.fullmatch(identifier_pattern, pid) is not None,
          f"{name}: PackageIdentifier {pid!r} does not match the schema")
    check(pversion == version, f"{name}: PackageVersion {pversion!r}")
    check(isinstance(pversion, str) and len(pversion) <= 128 and re.fullmatch(version_pattern, pversion) is not None,
          f"{name}: PackageVersion {pversion!r} does not match the schema")

versions = {m.get("ManifestVersion") for m in manifests.values()}
check(len(versions) == 1, f"ManifestVersion differs between the files: {versions}")
check(all(isinstance(v, str) and re.fullmatch(r"\d+\.\d+\.\d+", v) for v in versions), f"ManifestVersion {versions}")

check(manifests["version"].get("DefaultLocale") == manifests["defaultLocale"].get("PackageLocale") == "en-US",
      "the default locale and the locale file's PackageLocale differ")
installer = manifests["installer"]
check(installer.get("InstallerType") == "portable", f"InstallerType {installer.get('InstallerType')!r}")
check(installer.get("Commands") == ["kestrin"], f"Commands {installer.get('Commands')!r}")
check(installer.get("Scope") == "machine", f"Scope {installer.get('Scope')!r}: an elevating program in a user's folder")
entries = installer.get("Installers") or []
check(len(entries) == 1, f"{len(entries)} installers")
for entry in entries:
    check(entry.get("Architecture") == "x64", f"Architecture {entry.get('Architecture')!r}")
    check(entry.get("InstallerUrl") == url, f"InstallerUrl {entry.get('InstallerUrl')!r}, given {url!r}")
    check(entry.get("InstallerSha256") == sha256.upper(), f"InstallerSha256 {entry.get('InstallerSha256')!r}")
check(manifests["defaultLocale"].get("License") == "MIT", "License is not MIT")

for failure in failures:
    print("FAIL:", failure)
if failures:
    sys.exit(1)
print("the three files carry every required field and the URL and hash given")
EOF

# Each bad argument alone: refused (exit 2), and nothing written.
refused=0
refuse_case() {
    local what="$1" dir
    shift
    dir="$(mktemp -d "$work/bad.XXXXXX")"
    local status=0
    "$tools/winget-manifest" "$@" "$dir" 2>"$dir.err" || status=$?
    if [[ $status -ne 2 || -n "$(ls -A "$dir")" ]]; then
        echo "FAIL: $what: exit status $status, files: $(ls -A "$dir" | tr '\n' ' ')" >&2
        refused=1
    else
        echo "refused, $what: $(cat "$dir.err")"
    fi
}
refuse_case "a hash of 63 digits" "$identifier" "$version" "$url" "${sha256:1}"
refuse_case "a hash with a non-hexadecimal digit" "$identifier" "$version" "$url" "g${sha256:1}"
refuse_case "an identifier of one part" Kestrin "$version" "$url" "$sha256"
refuse_case "an identifier with a space" "Kestrin.Windows Kestrin" "$version" "$url" "$sha256"
refuse_case "an identifier part of 33 characters" "Kestrin.$(printf 'k%.0s' {1..33})" "$version" "$url" "$sha256"
refuse_case "a version with a slash" "$identifier" "1.2/3" "$url" "$sha256"
refuse_case "a URL that is not http(s)" "$identifier" "$version" "ftp://example.com/kestrin.exe" "$sha256"
exit $refused
