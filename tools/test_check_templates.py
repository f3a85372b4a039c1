"""Tests of the template checker: the shipped templates pass, and each way a
template can go wrong on another machine is reported on its line."""

import unittest

import check_templates as check

HEADER = "Notepad\r\nFont and window place\r\nNotepad\r\n"


def problems(text):
    return check.template_problems("t.txt", text.encode("latin-1"))


class ShippedTemplates(unittest.TestCase):
    def test_every_shipped_template_passes(self):
        paths = sorted(check.TEMPLATES.glob("*.txt"))
        self.assertGreaterEqual(len(paths), 40)
        templates = [(path.name, path.read_bytes()) for path in paths]
        found = [p for name, data in templates for p in check.template_problems(name, data)]
        self.assertEqual(found + check.set_problems(templates), [])


class TemplateFaults(unittest.TestCase):
    def test_good_entries_pass(self):
        entries = [r"R:HKCU\Software\Microsoft\Notepad", r"R:HKEY_LOCAL_MACHINE\Software\A", "X:notepad.exe",
                   r"F:%AppData%\Mailer\*.ini", r"S:%windir%\Fonts\*.*", r"F:%UserProfile%\100%%\*.txt",
                   r"F:%HKCU\Software\Mailer\Folder%\*.*", "R:HKCU\\" + "k" * 254, r"S:%savedgames%\*.*",
                   r"F:%LocalAppData%\Google\Chrome\User Data\Default\Secure Preferences"]
        self.assertEqual(problems(HEADER + "".join(e + "\r\n" for e in entries)), [])

    def test_line_ends_and_bytes(self):
        cases = {
            "LF only": ("Notepad\nFont\nNotepad\n", "the last line does not end with CR LF"),
            "no line end at the end": (HEADER + "X:notepad.exe", "the last line does not end with CR LF"),
            "a lone LF inside": ("Notepad\r\nFont\nNotepad\r\n", "a line ends with a lone CR or LF"),
            "a lone CR inside": ("Notepad\r\nFont\rNotepad\r\n", "a line ends with a lone CR or LF"),
            "a byte above 127": ("Notepad\r\nFont \xe9\r\nNotepad\r\n", "not printable ASCII"),
            "a tab": ("Notepad\r\nFont\tsize\r\nNotepad\r\n", "not printable ASCII"),
            "two lines only": ("Notepad\r\nFont\r\n", "needs a name, a description and a directory"),
        }
        for what, (text, message) in cases.items():
            with self.subTest(what):
                self.assertEqual(len(problems(text)), 1)
                self.assertIn(message, problems(text)[0])

    def test_header_lines(self):
        for directory in ("", "..", "Fonts..old", r"Notepad\Fonts", "C:Notepad", r"\Notepad", "Notepad.", " Notepad",
                          "Aux", "nul.txt", "COM1"):
            with self.subTest(directory=directory):
                self.assertEqual(problems(f"Notepad\r\nFont\r\n{directory}\r\n"),
                                 [f"t.txt:3: the directory must be a plain folder name, not {directory!r}"])
        self.assertEqual(problems("\r\nFont\r\nNotepad\r\n"), ["t.txt:1: the name is empty"])

    def test_entries(self):
        cases = {
            r"F:%AppDate%\Mailer\*.ini": "%AppDate% is no variable the program knows",
            r"F:%AppData\Mailer\*.ini": "has no closing '%'",
            r"F:%HKCC\Software\A%\*.*": "registry reference %HKCC\\Software\\A% does not start with a known root",
            r"F:C:\Users\someone\AppData\Roaming\Mailer\*.ini": "should start with a folder variable",
            r"F:%SystemRoot%\..\Users\someone\*.ini": "no drive, no '..'",
            r"F:%UserProfile%\D:\Data\*.txt": "no drive",
            r"F:%AppData%\Mailer\\*.ini": "no empty folder",
            r"F:%UserProfile%\Desktop\*.lnk": "use %Desktop% for %UserProfile%\\Desktop",
            r"F:%HomePath%\AppData\Roaming\Mailer\*.ini": "use %AppData% or %LocalAppData%",
            r"S:%LocalAppData%\Mailer\Code Cache\*.*": "'Code Cache' is a cache or log folder",
            r"F:%AppData%\Mailer\LOGS\*.txt": "'LOGS' is a cache or log folder",
            r"F:%AppData%\Mailer\TEMP": "'TEMP' is a cache or log folder",
            r"F:%AppData%\Mailer\*\prefs.js": "only the last part of a file entry may hold wildcards",
            r"S:%AppData%\Mailer\*.ini": "use *.* for a whole tree",
            r"S:%LocalAppData%\*.*": "takes a folder below %LocalAppData%, not all of it",
            r"S:%HKCU\Software\Mailer\Folder%\*.*": "takes a folder below %HKCU",
            "F:%AppData%": "needs a folder, a backslash and a file pattern",
            "S:%AppData%\\": "needs a folder, a backslash and a file pattern",
            r"R:HKCC\Software": "'HKCC' is no registry root",
            "R:HKCU": "needs a key below its root",
            r"R:HKU\S-1-5-21-1004336348-1177238915-682003330-512\Software\A": "names one user's account",
            "R:HKCU\\Software\\": "needs a key below its root",
            "X:notepad": "names a program file",
            "X:%Windir%\\notepad.exe": "names a program file",
            "I:(INI)": "INI entries are not carried out",
            "?:notepad.exe": "'?' is no entry kind",
            "f:%AppData%\\*.*": "'f' is no entry kind",
            "F:": "the entry is empty",
            "R:HKCU\\" + "k" * 255: "the entry is 260 bytes long, more than 259",
            "; Notepad's settings": "not an entry; the editor would drop this line",
            "": "not an entry",
        }
        for entry, message in cases.items():
            with self.subTest(entry=entry):
                found = problems(HEADER + "X:notepad.exe\r\n" + entry + "\r\n")
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith("t.txt:5: "), found[0])
                self.assertIn(message, found[0])

    def test_templates_sharing_a_name_or_a_directory(self):
        templates = [("a.txt", b"Notepad\r\nOne\r\nNotepad\r\n"), ("b.txt", b"Paint\r\nTwo\r\nnotepad\r\n"),
                     ("c.txt", b"notepad\r\nThree\r\nPaint\r\n"), ("d.txt", b"WordPad\r\nFour\r\nWordPad\r\n")]
        self.assertEqual(check.set_problems(templates),
                         ["c.txt: same name as a.txt", "b.txt: same directory as a.txt"])


if __name__ == "__main__":
    unittest.main()
