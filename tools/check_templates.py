#!/usr/bin/env python3
"""Checks the example templates shipped in resources/templates.

Beyond what the program itself accepts, a shipped template must travel:
plain ASCII with CR LF after every line, as the editor writes it; a plain
folder name as its directory, different from every other template's (two
templates with one directory overwrite each other's numbered copies); only
entries the backup carries out (F, S, R, X), with the variables and root
keys the program knows; and no other lines, which the editor would drop.
File entries start at a folder variable and name no drive, no ".." and no
cache or log folder (a backup of those is large, stale at once, and useless
on another machine).

Usage: check_templates.py [TEMPLATE ...]   (default: every shipped template)
Prints one line per problem and exits 1 when there is any.
"""

import re
import sys
from pathlib import Path

TEMPLATES = Path(__file__).resolve().parent.parent / "resources" / "templates"

FOLDER_VARIABLES = {"appdata", "allusersappdata", "programfilescommon", "homepath", "userprofile",
                    "programfiles", "systemroot", "windir", "localappdata", "localappdatalow", "documents",
                    "personal", "desktop", "favorites", "startmenu", "programs", "startup", "sendto",
                    "templates", "music", "pictures", "videos", "downloads", "savedgames", "fonts",
                    "programdata", "programfilesx86", "system", "public", "commondocuments", "commonstartmenu",
                    "commondesktop"}
ROOTS = {"hkcr", "hkey_classes_root", "hkcu", "hkey_current_user", "hklm", "hkey_local_machine",
         "hku", "hkey_users"}
MAX_ARGUMENT = 259
# Characters the file system refuses in a folder name, and the device names
# it takes for devices instead of folders.
BAD_FOLDER_CHARACTERS = set('\\/:*?"<>|')
DEVICE_NAMES = {"con", "prn", "aux", "nul"} | {f"{port}{n}" for port in ("com", "lpt") for n in range(1, 10)}
# Folders that programs fill with what they can make again or only write for
# themselves; compared with every component of a file entry, in any case.
CACHE_FOLDERS = {"cache", "cache2", "caches", "code cache", "gpucache", "shadercache", "grshadercache",
                 "dawncache", "cacheddata", "cachedextensionvsixs", "cachestorage", "startupcache", "inetcache",
                 "temp", "tmp", "log", "logs", "crashpad", "crashdumps", "crash reports", "minidumps"}
WILDCARDS = set("*?")
# Profile folders the user can move (to OneDrive, to another drive): their own
# variable follows them, a path below the profile does not.
MOVABLE_FOLDERS = {"appdata": "%AppData% or %LocalAppData%", "desktop": "%Desktop%", "documents": "%Documents%",
                   "my documents": "%Documents%", "favorites": "%Favorites%", "music": "%Music%",
                   "pictures": "%Pictures%", "videos": "%Videos%", "downloads": "%Downloads%",
                   "saved games": "%SavedGames%"}
# Folders too broad to copy whole: programs' own data, the profile, the system.
BROAD_VARIABLES = {"appdata", "localappdata", "localappdatalow", "allusersappdata", "programdata", "userprofile",
                   "homepath", "programfiles", "programfilesx86", "programfilescommon", "systemroot", "windir",
                   "system"}


def split_lines(data):
    """The lines of a file, or a complaint when any line lacks its CR LF."""
    if not data.endswith(b"\r\n"):
        return None, "the last line does not end with CR LF"
    lines = data[:-2].split(b"\r\n")
    if any(b"\r" in line or b"\n" in line for line in lines):
        return None, "a line ends with a lone CR or LF"
    return lines, None


def is_registry_reference(name):
    head = name.split("\\", 1)[0].lower()
    return (len(head) == 4 and head.startswith("hk")) or head.startswith("hkey")


def variable_problems(text):
    """Problems with the %NAME% references of a path or key."""
    parts = text.split("%")
    if len(parts) % 2 == 0:
        return ["a '%' has no closing '%'"]
    problems = []
    for name in parts[1::2]:
        if name == "" or name.lower() in FOLDER_VARIABLES:
            continue
        if is_registry_reference(name):
            if "\\" not in name or name.split("\\", 1)[0].lower() not in ROOTS:
                problems.append(f"registry reference %{name}% does not start with a known root")
        else:
            problems.append(f"%{name}% is no variable the program knows (it would expand to nothing)")
    return problems


def file_entry_problems(kind, argument):
    """Problems of the path of an F or S entry."""
    folder, _, pattern = argument.rpartition("\\")
    if not folder or not pattern:
        return ["a file entry needs a folder, a backslash and a file pattern"]
    # A registry reference may stand first, and holds backslashes of its own.
    first = re.match(r"%[^%]+%(?=\\)", argument)
    if not first:
        return ["a file entry should start with a folder variable, so it fits every machine"]
    first, rest = first[0], argument[first.end() + 1:].split("\\")
    if any(part in ("", ".", "..") or ":" in part for part in rest):
        return ["a file entry names its folders plainly: no drive, no '..', no empty folder"]
    if first.lower() in ("%userprofile%", "%homepath%") and rest[0].lower() in MOVABLE_FOLDERS:
        return [f"use {MOVABLE_FOLDERS[rest[0].lower()]} for {first}\\{rest[0]}: it follows the folder when moved"]
    caches = [part for part in rest if part.lower() in CACHE_FOLDERS]
    if caches:
        return [f"{caches[0]!r} is a cache or log folder, which no backup should carry"]
    if kind == "F" and WILDCARDS & set(folder):
        return ["only the last part of a file entry may hold wildcards"]
    if kind == "S" and pattern not in ("*.*", "*"):
        return ["an S entry's wildcard also chooses the folders it enters: use *.* for a whole tree"]
    # A registry reference whose value is missing expands to nothing, and the
    # copy would then start at the drive's root.
    name = first.strip("%")
    if kind == "S" and not rest[:-1] and (name.lower() in BROAD_VARIABLES or is_registry_reference(name)):
        return [f"an S entry takes a folder below {first}, not all of it"]
    return []


def entry_problems(kind, argument):
    if not argument:
        return ["the entry is empty"]
    if len(argument) > MAX_ARGUMENT:
        return [f"the entry is {len(argument)} bytes long, more than {MAX_ARGUMENT}"]
    if kind in "FS":
        return variable_problems(argument) or file_entry_problems(kind, argument)
    if kind == "R":
        problems = variable_problems(argument)
        root, _, key = argument.partition("\\")
        if root.lower() not in ROOTS:
            problems.append(f"{root!r} is no registry root the program accepts")
        if not key or argument.endswith("\\"):
            problems.append("a registry entry needs a key below its root, without a trailing backslash")
        elif re.match(r"s-1-5-21-", key, re.IGNORECASE):
            problems.append("a registry entry names one user's account; HKCU is every user's own")
        return problems
    if kind == "X":
        # The association export looks for this text inside open commands.
        if not argument.lower().endswith(".exe") or "%" in argument:
            return ["a relation entry names a program file such as 'notepad.exe', without variables"]
        return []
    if kind == "I":
        return ["INI entries are not carried out by the backup"]
    return [f"{kind!r} is no entry kind (F, S, R or X)"]


def template_problems(name, data):
    """Problems of one template file, each as 'name:line: text'."""
    if any(byte >= 0x80 or (byte < 0x20 and byte not in (0x0D, 0x0A)) for byte in data):
        return [f"{name}: holds bytes that are not printable ASCII"]
    lines, problem = split_lines(data)
    if problem:
        return [f"{name}: {problem}"]
    lines = [line.decode("ascii") for line in lines]
    if len(lines) < 3:
        return [f"{name}: needs a name, a description and a directory line"]
    problems = []
    if not lines[0].strip():
        problems.append(f"{name}:1: the name is empty")
    directory = lines[2]
    if (not directory.strip() or ".." in directory or directory != directory.strip(" .")
            or BAD_FOLDER_CHARACTERS & set(directory) or directory.split(".")[0].lower() in DEVICE_NAMES):
        problems.append(f"{name}:3: the directory must be a plain folder name, not {directory!r}")
    for number, line in enumerate(lines[3:], 4):
        if not re.match(r"^.:", line):
            problems.append(f"{name}:{number}: not an entry; the editor would drop this line")
            continue
        problems += [f"{name}:{number}: {p}" for p in entry_problems(line[0], line[2:])]
    return problems


def set_problems(templates):
    """Problems between templates: the same name or the same directory."""
    problems = []
    for index, what in ((0, "name"), (2, "directory")):
        seen = {}
        for name, data in templates:
            lines, problem = split_lines(data)
            if problem or len(lines) < 3:
                continue
            key = lines[index].decode("ascii", "replace").lower()
            if key in seen:
                problems.append(f"{name}: same {what} as {seen[key]}")
            seen.setdefault(key, name)
    return problems


def main(argv):
    paths = [Path(p) for p in argv[1:]] or sorted(TEMPLATES.glob("*.txt"))
    if not paths:
        print(f"check_templates: no templates in {TEMPLATES}", file=sys.stderr)
        return 1
    templates = [(path.name, path.read_bytes()) for path in paths]
    problems = [p for name, data in templates for p in template_problems(name, data)]
    problems += set_problems(templates)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
