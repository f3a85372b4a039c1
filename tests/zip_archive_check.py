"""Checks from outside wine the archive that zip_archive_test wrote: unzip
tests every entry, and Python's zipfile lists it against the tree it was
made from, as Linux sees that tree.

Usage: zip_archive_check.py FOLDER  (holding tree/, backup.zip, codepage.txt)
"""
import os
import subprocess
import sys
import time
import zipfile
import zlib

UTF8_NAME = 0x800
DOS_READ_ONLY, DOS_HIDDEN, DOS_DIRECTORY = 0x01, 0x02, 0x10


def tree_entries(tree):
    """Archive names of everything below tree, "/" after folders."""
    entries = {}
    for root, folders, files in os.walk(tree):
        relative = os.path.relpath(root, tree)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        entries.update({prefix + f + "/": os.path.join(root, f) for f in folders})
        entries.update({prefix + f: os.path.join(root, f) for f in files})
    return entries


def fits(name, code_page):
    try:
        return name.encode(code_page).decode(code_page) == name
    except UnicodeError:
        return False


def dos_time(path):
    """The DOS form keeps local time in two-second steps."""
    t = time.localtime(os.stat(path).st_mtime)
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec // 2 * 2)


def main(folder):
    archive = os.path.join(folder, "backup.zip")
    with open(os.path.join(folder, "codepage.txt")) as f:
        code_page = "cp" + f.read().strip()
    expected = tree_entries(os.path.join(folder, "tree"))
    errors = []

    tested = subprocess.run(["unzip", "-tq", archive], capture_output=True, text=True)
    if tested.returncode != 0:
        errors.append("unzip -t: " + tested.stdout + tested.stderr)

    seen = []
    with zipfile.ZipFile(archive) as z:
        if z.testzip() is not None:
            errors.append("zipfile: bad CRC in " + z.testzip())
        for info in z.infolist():
            utf8 = bool(info.flag_bits & UTF8_NAME)
            # zipfile reads a name without the flag as code page 437.
            name = info.filename if utf8 else info.filename.encode("cp437").decode(code_page)
            seen.append((name, utf8))
            path = expected.get(name)
            if path is None:
                errors.append(f"{name!r}: not in the tree")
                continue
            if utf8 == fits(name, code_page):
                errors.append(f"{name!r}: UTF-8 flag {utf8} under {code_page}")
            if info.date_time != dos_time(path):
                errors.append(f"{name!r}: time {info.date_time}, the file's {dos_time(path)}")
            attributes = info.external_attr & 0xFF
            if info.create_system != 0:
                errors.append(f"{name!r}: made on system {info.create_system}, not MS-DOS")
            if name.endswith("/"):
                if not attributes & DOS_DIRECTORY or info.file_size:
                    errors.append(f"{name!r}: not a folder entry")
                continue
            with open(path, "rb") as f:
                content = f.read()
            method = zipfile.ZIP_DEFLATED if content else zipfile.ZIP_STORED
            if (info.file_size, info.CRC, info.compress_type) != (len(content), zlib.crc32(content), method):
                errors.append(f"{name!r}: size {info.file_size}, CRC {info.CRC:08x}, method {info.compress_type}")
            wanted = {"readonly.txt": DOS_READ_ONLY, "hidden.txt": DOS_HIDDEN}.get(name, 0)
            if attributes & (DOS_READ_ONLY | DOS_HIDDEN) != wanted:
                errors.append(f"{name!r}: attributes {attributes:#x}")

    names = [name for name, _ in seen]
    if sorted(names) != sorted(expected):
        errors.append(f"entries {sorted(names)}, the tree has {sorted(expected)}")
    # The tree is made so that each code page stores some names itself and
    # needs UTF-8 for others: both paths must have been taken.
    if not any(utf8 for _, utf8 in seen) or not any(not utf8 and not n.isascii() for n, utf8 in seen):
        errors.append(f"expected both UTF-8 and {code_page} names beyond ASCII: {seen}")

    for e in errors:
        print(e)
    print(f"{len(seen)} entries checked, {len(errors)} problems")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
