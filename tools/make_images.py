#!/usr/bin/python3
"""Render the TeskManager images from the one SVG drawing.

Run from anywhere:  tools/make_images.py

Debian 12 packages needed: python3 (3.11), python3-pil (9.4), librsvg2-bin
(rsvg-convert 2.54) and fonts-dejavu-core (DejaVu Sans and DejaVu Sans Bold
for the logo). The interpreter is Debian's own because python3-pil installs
there. Pillow writes no timestamp of its own and the tIME chunk is fixed,
so with the same package versions two runs give byte-identical files.

Reads  resources/icons/hicolor/scalable/apps/teskmanager.svg
Writes resources/icons/hicolor/<n>x<n>/apps/teskmanager.png (n = 32 48 128 256)
       resources/Velmarin.ico
       resources/velmarintesk_logo.png, and @2x for screens at twice the density
"""

import io
import os
import struct
import subprocess

from PIL import Image, ImageDraw, ImageFont, PngImagePlugin

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "resources")
SVG = os.path.join(RES, "icons", "hicolor", "scalable", "apps", "teskmanager.svg")
FONTS = "/usr/share/fonts/truetype/dejavu"

# A fixed date keeps the output reproducible.
PNG_TIME = (2026, 12, 7, 0, 0, 0)

LOGO_SIZE = (451, 60)
TITLE_DARK = (0x16, 0x33, 0x4D)
TITLE_TEAL = (0x0F, 0x7E, 0x90)
SUBTITLE = (0x55, 0x66, 0x74)


def render_svg(size):
    png = subprocess.run(
        ["rsvg-convert", "--width", str(size), "--height", str(size), SVG],
        check=True, stdout=subprocess.PIPE).stdout
    return Image.open(io.BytesIO(png)).convert("RGBA")


def save_png(image, path):
    """sRGB and bKGD tell viewers how to show the colours and what to put
    behind the transparent corners."""
    info = PngImagePlugin.PngInfo()
    info.add(b"sRGB", b"\x00")
    info.add(b"bKGD", struct.pack(">HHH", 255, 255, 255))
    info.add(b"tIME", struct.pack(">HBBBBB", *PNG_TIME))
    image.save(path, "PNG", pnginfo=info, dpi=(72, 72), optimize=True)


def ico_bytes(image):
    """One 32x32 image: 8 bits per pixel, 256-entry palette, 1-bit mask.

    Pixels at least half opaque are drawn; the rest go to the mask and keep
    palette index 0, which stays black so that Windows' AND/XOR blit leaves
    the screen under them untouched.
    """
    width, height = image.size
    assert (width, height) == (32, 32)  # one 32-bit mask word per row
    pixels = list(image.getdata())
    opaque = [p[:3] for p in pixels if p[3] >= 128]
    strip = Image.new("RGB", (len(opaque), 1))
    strip.putdata(opaque)
    strip = strip.quantize(255, method=Image.Quantize.MEDIANCUT)
    found = iter(strip.getdata())
    rgb = strip.getpalette()[:255 * 3]
    palette = [0, 0, 0] + rgb + [0] * (255 * 3 - len(rgb))
    indices = [next(found) + 1 if p[3] >= 128 else 0 for p in pixels]

    colours = b"".join(struct.pack("<BBBB", palette[i + 2], palette[i + 1],
                                   palette[i], 0)
                       for i in range(0, len(palette), 3))
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(height)):  # bitmaps are stored bottom-up
        row = slice(y * width, (y + 1) * width)
        xor += bytes(indices[row])
        mask += struct.pack(">I", sum(1 << (31 - x) for x, p in
                                      enumerate(pixels[row]) if p[3] < 128))
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 8, 0,
                         len(xor) + len(mask), 0, 0, 256, 0)
    bitmap = header + colours + bytes(xor) + bytes(mask)
    assert len(bitmap) == 2216
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, len(bitmap),
                        len(directory) + 16)
    return directory + entry + bitmap


def draw_text(image, xy, text, font, colour):
    """Composite antialiased text; drawing straight onto transparent RGBA
    would darken the edges."""
    coverage = Image.new("L", image.size, 0)
    ImageDraw.Draw(coverage).text(xy, text, font=font, fill=255, anchor="ls")
    ink = Image.new("RGBA", image.size, colour + (255,))
    ink.putalpha(coverage)
    image.alpha_composite(ink)
    return xy[0] + font.getlength(text)


def logo(scale=1):
    """Drawn at each scale rather than enlarged, so that it stays sharp."""
    image = Image.new("RGBA", (LOGO_SIZE[0] * scale, LOGO_SIZE[1] * scale), (0, 0, 0, 0))
    image.alpha_composite(render_svg(54 * scale), (3 * scale, 3 * scale))
    bold = ImageFont.truetype(os.path.join(FONTS, "DejaVuSans-Bold.ttf"), 44 * scale)
    book = ImageFont.truetype(os.path.join(FONTS, "DejaVuSans.ttf"), 14 * scale)
    x = draw_text(image, (68 * scale, 37 * scale), "Tesk", bold, TITLE_DARK)
    draw_text(image, (x, 37 * scale), "Manager", bold, TITLE_TEAL)
    draw_text(image, (70 * scale, 56 * scale), "Serial & TCP test bench", book, SUBTITLE)
    return image


def main():
    for n in (32, 48, 128, 256):
        save_png(render_svg(n), os.path.join(
            RES, "icons", "hicolor", "%dx%d" % (n, n), "apps", "teskmanager.png"))
    with open(os.path.join(RES, "Velmarin.ico"), "wb") as out:
        out.write(ico_bytes(render_svg(32)))
    save_png(logo(), os.path.join(RES, "velmarintesk_logo.png"))
    save_png(logo(2), os.path.join(RES, "velmarintesk_logo@2x.png"))


if __name__ == "__main__":
    main()
