#!/usr/bin/env python3
"""Writes a copy of a font whose digits are those of one of its OpenType features by default.

Qt 6.4 cannot ask a font for an OpenType feature, so the feature's substitution of the digits is
built into the copy's character map instead: "tnum" for digits of one width, "lnum" for lining
digits where the font draws old-style ones. Usage: default-figures.py FEATURE SOURCE TARGET
[FAMILY]; with FAMILY (for example "Manrope Tabular") the copy is a family of its own, without
it the copy keeps the font's names and stands in for it.
"""
import sys

from fontTools.ttLib import TTFont

DIGITS = range(ord("0"), ord("9") + 1)


def feature_substitutions(font, feature):
    table = font["GSUB"].table
    lookups = set()
    for record in table.FeatureList.FeatureRecord:
        if record.FeatureTag == feature:
            lookups.update(record.Feature.LookupListIndex)
    substitutions = {}
    for index in sorted(lookups):
        lookup = table.LookupList.Lookup[index]
        for subtable in lookup.SubTable:
            if lookup.LookupType == 7:  # an extension that wraps the real subtable
                subtable = subtable.ExtSubTable
            substitutions.update(getattr(subtable, "mapping", {}))
    return substitutions


def rename(font, family):
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


def main(feature, source, target, family=None):
    font = TTFont(source)
    substitutions = feature_substitutions(font, feature)
    replaced = 0
    for table in font["cmap"].tables:
        for code, glyph in list(table.cmap.items()):
            if code in DIGITS and glyph in substitutions:
                table.cmap[code] = substitutions[glyph]
                replaced += 1
    if not replaced:
        sys.exit(f"{source} has no {feature} digits")
    if family:
        rename(font, family)
    font.save(target)


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    main(*sys.argv[1:])
