#!/usr/bin/env python3
"""The winget and Scoop manifests of a release parse, name its version and carry the hashes of
the installer and the zip beside them; Scoop's command, shortcut and kept settings are files
the zip holds.
    check-manifests.py DIST VERSION"""
import hashlib
import json
import sys
import zipfile
from pathlib import Path

import yaml

dist, version = Path(sys.argv[1]), sys.argv[2]
setup, archive = dist / f"pellwick-{version}-setup.exe", dist / f"pellwick-{version}-win64.zip"
failures = []


def expect(what, found, wanted):
    if found != wanted:
        failures.append(f"{what}: {found!r}, expected {wanted!r}")


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


winget = {path.name: yaml.safe_load(path.read_text()) for path in (dist / "winget").glob("*.yaml")}
expect("winget files", sorted(winget), ["Pellwick.Pellwick.installer.yaml", "Pellwick.Pellwick.locale.en-US.yaml",
                                        "Pellwick.Pellwick.yaml"])
for name, manifest in winget.items():
    expect(f"{name} PackageVersion", manifest.get("PackageVersion"), version)
    expect(f"{name} PackageIdentifier", manifest.get("PackageIdentifier"), "Pellwick.Pellwick")
installer = winget.get("Pellwick.Pellwick.installer.yaml", {})
expect("InstallerType", installer.get("InstallerType"), "nullsoft")
expect("Scope", installer.get("Scope"), "user")
for each in installer.get("Installers", [None]):
    expect("InstallerSha256", (each or {}).get("InstallerSha256"), sha256(setup).upper())
    expect("InstallerUrl's file", (each or {}).get("InstallerUrl", "").rsplit("/", 1)[-1], setup.name)

scoop = json.loads((dist / "pellwick.json").read_text())
expect("Scoop version", scoop.get("version"), version)
package = scoop.get("architecture", {}).get("64bit", {})
expect("Scoop hash", package.get("hash"), sha256(archive))
expect("Scoop url's file", package.get("url", "").rsplit("/", 1)[-1], archive.name)
inside = set(zipfile.ZipFile(archive).namelist())
for entry in [scoop.get("bin")] + [shortcut[0] for shortcut in scoop.get("shortcuts", [])]:
    expect(f"{entry} in the zip", f"{package.get('extract_dir')}/{entry}" in inside, True)
for kept in ["pellwick.ini", "pellwick.uidl", "cacert-local.pem"]:
    expect(f"Scoop keeps {kept}", kept in scoop.get("persist", []), True)

print("\n".join(failures) or "manifests match the release")
sys.exit(1 if failures else 0)
