# Decodes every size of an icns file with Pillow, writing each as raw RGBA bytes.
# Usage: read_with_pillow.py FILE.icns OUTPUT_FOLDER; exit status 77 when Pillow is missing.
import os
import sys

try:
    from PIL import IcnsImagePlugin
except ImportError:
    sys.exit(77)

with open(sys.argv[1], "rb") as source:
    family = IcnsImagePlugin.IcnsFile(source)
    for size in family.itersizes():
        if size[2] != 1:
            continue
        image = family.getimage(size).convert("RGBA")
        name = os.path.join(sys.argv[2], "pillow_%d.rgba" % size[0])
        with open(name, "wb") as out:
            out.write(image.tobytes())
        print(size[0])
