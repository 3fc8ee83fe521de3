#!/usr/bin/env python3
"""Writes a copy of a font whose digits are its tabular ones by default, under its own family.

Qt 6.4 cannot ask a font for an OpenType feature, so the substitution of the font's "tnum"
feature is built into the copy's character map instead. Usage: tabular-figures.py SOURCE TARGET
FAMILY (the copy's family name, for example "Manrope Tabular").
"""
import sys

from fontTools.ttLib import TTFont


def tabular_substitutions(font):
    table = font["GSUB"].table
    lookups = set()
    for record in table.FeatureList.FeatureRecord:
        if record.FeatureTag == "tnum":
            lookups.update(record.Feature.LookupListIndex)
    substitutions = {}
    for index in sorted(lookups):
        lookup = table.LookupList.Lookup[index]
        for subtable in lookup.SubTable:
            if lookup.LookupType == 7:  # an extension that wraps the real subtable
                subtable = subtable.ExtSubTable
            substitutions.update(getattr(subtable, "mapping", {}))
    return substitutions


def main(source, target, family):
    font = TTFont(source)
    substitutions = tabular_substitutions(font)
    if not substitutions:
        sys.exit(f"{source} has no tabular figures")
    for table in font["cmap"].tables:
        for code, glyph in list(table.cmap.items()):
            if glyph in substitutions:
                table.cmap[code] = substitutions[glyph]
    names = font["name"]
    style = names.getDebugName(17) or names.getDebugName(2) or "Regular"
    postscript = family.replace(" ", "") + "-" + style.replace(" ", "")
    for record in names.names:
        if record.nameID in (1, 16):
            record.string = family
        elif record.nameID == 4:
            record.string = f"{family} {style}"
        elif record.nameID in (3, 6):
            record.string = postscript
        elif record.nameID == 2 and style not in ("Regular", "Bold", "Italic", "Bold Italic"):
            record.string = "Regular"
    font.save(target)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
