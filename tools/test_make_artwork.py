"""Tests of the artwork generator: the committed files match the pictures,
an independent decoder reads back every pixel, and bad pictures are refused
with the line that is wrong."""

import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import make_artwork as art


class CommittedFiles(unittest.TestCase):
    def test_committed_files_are_what_the_pictures_give(self):
        for name, data in art.build_all().items():
            with self.subTest(name=name):
                self.assertEqual((art.RESOURCES / name).read_bytes(), data,
                                 "run tools/make_artwork.sh after changing a picture")


@unittest.skipUnless(shutil.which("convert"), "ImageMagick's convert is not installed")
class DecodedByImageMagick(unittest.TestCase):
    """ImageMagick's own BMP and ICO readers see the same pixels as the
    pictures: rows bottom-up, two pixels a byte high nibble first, rows padded,
    the AND mask cutting out exactly the transparent pixels."""

    palette = art.Palette(art.ART / "palette.txt")

    def decode(self, path, frame):
        # One "x,y: (r,g,b,a)" line per pixel; the alpha says what the mask cut out.
        out = subprocess.run(["convert", f"{path}[{frame}]", "-depth", "8", "-alpha", "on", "txt:-"],
                             check=True, capture_output=True, text=True).stdout
        pixels = {}
        for line in out.splitlines()[1:]:
            where, rest = line.split(":", 1)
            x, y = map(int, where.split(","))
            values = rest.split("(", 1)[1].split(")", 1)[0].split(",")
            pixels[x, y] = tuple(int(v) for v in values[:4])
        return pixels

    def expected(self, rows, x0, transparent):
        out = {}
        for y, row in enumerate(rows):
            for x, index in enumerate(row):
                out[x0 + x, y] = transparent if index == self.palette.transparent else (*self.palette.colours[index], 255)
        return out

    def test_toolbar_strip(self):
        images = art.toolbar_images(art.ART / "toolbar.txt", self.palette)
        want = {}
        for i, image in enumerate(images):
            want.update(self.expected(image.pixels, i * art.TOOLBAR_SIZE, (255, 0, 255, 255)))
        self.assertEqual(self.decode(art.RESOURCES / "toolbar.bmp", 0), want)

    def test_icons(self):
        files = {"arkivanto2.ico": ("program.txt", art.PROGRAM_ICON_SIZES)}
        files.update({f"kind_{k}.ico": (f"kind_{k}.txt", art.KIND_ICON_SIZES) for k in art.KIND_ICONS})
        for name, (source, sizes) in files.items():
            for frame, image in enumerate(art.icon_images(art.ART / source, self.palette, sizes)):
                with self.subTest(icon=name, size=image.width):
                    got = self.decode(art.RESOURCES / name, frame)
                    # A cut-out pixel reads as fully transparent whatever colour it keeps.
                    got = {k: (0, 0, 0, 0) if v[3] == 0 else v for k, v in got.items()}
                    self.assertEqual(got, self.expected(image.pixels, 0, (0, 0, 0, 0)))


class BadPictures(unittest.TestCase):
    GOOD_ROW = "K" * 16

    def build(self, toolbar):
        """Builds from a copy of the pictures with the given toolbar text."""
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            for path in art.ART.glob("*.txt"):
                shutil.copy(path, folder)
            (folder / "toolbar.txt").write_text(toolbar, encoding="ascii")
            return art.build_all(folder)

    def strip(self, images):
        return "".join(f"= {label}\n" + "\n".join(rows) + "\n" for label, rows in images)

    def test_refusals_name_the_fault(self):
        good = [(f"{i} image", [self.GOOD_ROW] * 16) for i in range(16)]
        cases = {
            "a row too short": (self.strip(good[:3] + [("3 image", [self.GOOD_ROW] * 15 + ["K" * 15])] + good[4:]),
                                "toolbar.txt:68: row is 15 wide"),
            "a character not in the palette": (self.strip(good[:1] + [("1 image", ["M" * 16] * 16)] + good[2:]),
                                               "toolbar.txt:19: 'M' is not in the palette"),
            "an image missing": (self.strip(good[:15]), "15 images, the strip has 16"),
            "images out of order": (self.strip(good[:4] + [good[5], good[4]] + good[6:]),
                                    "image '5 image' stands where image 4 belongs"),
            "an image too small": (self.strip(good[:15] + [("15 image", ["K" * 8] * 8)]), "is 8 x 8, not 16 x 16"),
            "rows before a label": (self.GOOD_ROW + "\n", "toolbar.txt:1: rows before the first"),
        }
        for what, (text, message) in cases.items():
            with self.subTest(what):
                with self.assertRaises(art.ArtError) as caught:
                    self.build(text)
                self.assertIn(message, str(caught.exception))

if __name__ == "__main__":
    unittest.main()
