"""What the table generators share: the command line, where their inputs and
outputs live, single-precision rounding, C float literals and array rows.

Every generator writes its files under a root folder, by their paths in the
checkout (src/..., tests/...). The root defaults to the checkout this folder
is in; --root writes a copy elsewhere (tools/gen/check_tables.py compares
such a copy with the committed tables).
"""

import argparse
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKOUT = os.path.dirname(os.path.dirname(HERE))
DATA = os.path.join(HERE, "data")


def parse_args(doc, data_file=None):
    """The generator's options: --root, and the input table when it reads one
    (default: data_file in tools/gen/data)."""
    parser = argparse.ArgumentParser(description=doc,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", metavar="DIR", default=CHECKOUT,
                        help="folder to write the files under (default: this checkout)")
    if data_file:
        parser.add_argument("input", metavar=data_file.split(".")[0].upper() + "_TXT", nargs="?",
                            default=os.path.join(DATA, data_file),
                            help="input table (default: tools/gen/data/%s)" % data_file)
    return parser.parse_args()


def write(root, path, text):
    """Writes text to root/path (path as in the checkout), making its folder."""
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", newline="\n") as f:
        f.write(text)


def write_lines(root, path, lines):
    write(root, path, "\n".join(lines) + "\n")


def f32(x):
    """The single-precision value nearest to the double x."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def float_literal(v, exponent=False):
    """C float literal of the single-precision value v that reads back as v:
    %.9g with a ".0" where it would read as an integer, or %.9e."""
    assert f32(v) == v, v
    s = "%.9e" % v if exponent else "%.9g" % v
    if "." not in s and "e" not in s:
        s += ".0"
    assert f32(float(s)) == v, (v, s)
    return s + "f"


def rows(items, per_line, indent="    "):
    """Lines of per_line items each, every item followed by a comma."""
    return [indent + " ".join(item + "," for item in items[i:i + per_line])
            for i in range(0, len(items), per_line)]


def array(declaration, items, per_line, indent="    "):
    """An initialised array: `declaration = {`, its rows, `};`."""
    return [declaration + " = {"] + rows(items, per_line, indent) + ["};"]
