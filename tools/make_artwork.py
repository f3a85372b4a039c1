#!/usr/bin/env python3
"""Builds the program's toolbar bitmap and icons from the pictures in
tools/artwork.

Each picture file holds images drawn as grids of palette characters (the
legend is tools/artwork/palette.txt). An image starts with a line
"= LABEL"; the rows follow, one character a pixel. Lines starting with "#"
and blank lines are ignored. For the toolbar strip a label is the image's
index and a name ("= 3 delete templates"); for an icon it is the size
("= 32").

The output is the same bytes for the same pictures, so running it again
changes nothing. Usage: make_artwork.py [RESOURCE-FOLDER]
"""

import struct
import sys
from pathlib import Path

TOOLS = Path(__file__).resolve().parent
ART = TOOLS / "artwork"
RESOURCES = TOOLS.parent / "resources"

TOOLBAR_IMAGES = 16
TOOLBAR_SIZE = 16
PROGRAM_ICON_SIZES = (48, 32, 16)
# Only 16 x 16: the 32 x 32 copy that LoadIcon makes of it halves back to the
# same pixels in the editor's 16 x 16 image list, where a drawn 32 x 32 image
# would be shrunk and lose its lines.
KIND_ICON_SIZES = (16,)
# The entry kinds' icons, named after the kind each stands for.
KIND_ICONS = ("unset", "files", "files_recursive", "registry", "relation", "ini")

BITMAPINFOHEADER_SIZE = 40
BITS_PER_PIXEL = 4


class ArtError(Exception):
    pass


class Palette:
    def __init__(self, path):
        self.index_of = {}
        self.colours = [None] * 16
        self.transparent = None
        for number, line in numbered_lines(path):
            fields = line.split()
            if len(fields) != 6 or len(fields[0]) != 1:
                raise ArtError(f"{path}:{number}: expected: character index red green blue name")
            char, name = fields[0], fields[5]
            try:
                index, red, green, blue = (int(f) for f in fields[1:5])
            except ValueError:
                raise ArtError(f"{path}:{number}: index and colour must be numbers") from None
            if not 0 <= index < 16 or self.colours[index] is not None:
                raise ArtError(f"{path}:{number}: index {index} is out of range or taken")
            if char in self.index_of:
                raise ArtError(f"{path}:{number}: character {char!r} is taken")
            if not all(0 <= c <= 255 for c in (red, green, blue)):
                raise ArtError(f"{path}:{number}: colour out of range")
            self.index_of[char] = index
            self.colours[index] = (red, green, blue)
            if name == "transparent":
                self.transparent = index
        if None in self.colours:
            raise ArtError(f"{path}: needs all 16 colours")
        if self.transparent is None:
            raise ArtError(f"{path}: no colour is named transparent")

    def rgbquads(self):
        return b"".join(bytes((b, g, r, 0)) for r, g, b in self.colours)


class Image:
    """One picture as rows of palette indices."""

    def __init__(self, label, pixels):
        self.label = label
        self.pixels = pixels

    @property
    def width(self):
        return len(self.pixels[0])

    @property
    def height(self):
        return len(self.pixels)


def numbered_lines(path):
    """The meaningful lines of a file with their line numbers."""
    for number, line in enumerate(Path(path).read_text(encoding="ascii").splitlines(), 1):
        line = line.rstrip()
        if line and not line.startswith("#"):
            yield number, line


def read_images(path, palette):
    images = []
    label = rows = start = None

    def finish():
        if label is None:
            return
        if not rows:
            raise ArtError(f"{path}:{start}: image {label!r} has no rows")
        width = len(rows[0][1])
        for number, row in rows:
            if len(row) != width:
                raise ArtError(f"{path}:{number}: row is {len(row)} wide, the image's first row {width}")
        pixels = []
        for number, row in rows:
            try:
                pixels.append([palette.index_of[c] for c in row])
            except KeyError as e:
                raise ArtError(f"{path}:{number}: {e.args[0]!r} is not in the palette") from None
        images.append(Image(label, pixels))

    for number, line in numbered_lines(path):
        if line.startswith("="):
            finish()
            label, rows, start = line[1:].strip(), [], number
        elif label is None:
            raise ArtError(f"{path}:{number}: rows before the first '= LABEL' line")
        else:
            rows.append((number, line))
    finish()
    return images


def check_size(path, image, size):
    if image.width != size or image.height != size:
        raise ArtError(f"{path}: image {image.label!r} is {image.width} x {image.height}, not {size} x {size}")


def toolbar_images(path, palette):
    images = read_images(path, palette)
    if len(images) != TOOLBAR_IMAGES:
        raise ArtError(f"{path}: {len(images)} images, the strip has {TOOLBAR_IMAGES}")
    for index, image in enumerate(images):
        if image.label.split()[0] != str(index):
            raise ArtError(f"{path}: image {image.label!r} stands where image {index} belongs")
        check_size(path, image, TOOLBAR_SIZE)
    return images


def icon_images(path, palette, sizes):
    images = read_images(path, palette)
    labels = [image.label for image in images]
    if labels != [str(size) for size in sizes]:
        raise ArtError(f"{path}: images {labels}, expected sizes {list(sizes)} in this order")
    for image, size in zip(images, sizes):
        check_size(path, image, size)
    return images


def pack_rows(rows, bits):
    """Bottom-up rows packed at the given bits per pixel, each padded to
    four bytes as device-independent bitmaps require."""
    per_byte = 8 // bits
    out = bytearray()
    for row in reversed(rows):
        packed = bytearray()
        for start in range(0, len(row), per_byte):
            byte = 0
            for offset in range(per_byte):
                value = row[start + offset] if start + offset < len(row) else 0
                byte |= value << (8 - bits * (offset + 1))
            packed.append(byte)
        packed.extend(bytes(-len(packed) % 4))
        out += packed
    return bytes(out)


def info_header(width, height, image_size):
    # The height counts the AND mask too in an icon image; the caller says so.
    return struct.pack("<IiiHHIIiiII", BITMAPINFOHEADER_SIZE, width, height, 1, BITS_PER_PIXEL, 0,
                       image_size, 0, 0, 16, 0)


def strip_bitmap(images, palette):
    rows = [sum((image.pixels[y] for image in images), []) for y in range(TOOLBAR_SIZE)]
    bits = pack_rows(rows, BITS_PER_PIXEL)
    header = info_header(len(rows[0]), len(rows), len(bits)) + palette.rgbquads()
    offset = 14 + len(header)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return file_header + header + bits


def icon_file(images, palette):
    blobs = []
    for image in images:
        # Transparent pixels are black in the colour image and set in the
        # mask, so the screen shows through them unchanged.
        colour = [[0 if p == palette.transparent else p for p in row] for row in image.pixels]
        mask = [[1 if p == palette.transparent else 0 for p in row] for row in image.pixels]
        bits = pack_rows(colour, BITS_PER_PIXEL) + pack_rows(mask, 1)
        blobs.append(info_header(image.width, image.height * 2, len(bits)) + palette.rgbquads() + bits)
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for image, blob in zip(images, blobs):
        directory += struct.pack("<BBBBHHII", image.width % 256, image.height % 256, 16, 0, 1,
                                 BITS_PER_PIXEL, len(blob), offset)
        offset += len(blob)
    return directory + b"".join(blobs)


def build_all(art=ART):
    """Every output file name with its bytes."""
    palette = Palette(art / "palette.txt")
    outputs = {"toolbar.bmp": strip_bitmap(toolbar_images(art / "toolbar.txt", palette), palette),
               "arkivanto2.ico": icon_file(icon_images(art / "program.txt", palette, PROGRAM_ICON_SIZES), palette)}
    for kind in KIND_ICONS:
        images = icon_images(art / f"kind_{kind}.txt", palette, KIND_ICON_SIZES)
        outputs[f"kind_{kind}.ico"] = icon_file(images, palette)
    return outputs


def main(argv):
    target = Path(argv[1]) if len(argv) > 1 else RESOURCES
    try:
        outputs = build_all()
    except (ArtError, OSError, UnicodeDecodeError) as e:
        print(f"make_artwork: {e}", file=sys.stderr)
        return 1
    for name, data in outputs.items():
        path = target / name
        if path.exists() and path.read_bytes() == data:
            continue
        path.write_bytes(data)
        print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
