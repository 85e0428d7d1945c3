#!/usr/bin/env python3
"""Contrast of every text colour of the skins against the background it is drawn on.

Each rule that sets `color` is paired with its own background, or, when the rule leaves the
background transparent, with the background of what it sits on (a menu item on its menu, a
label on the dialog or the status bar). Gradients count with their worst stop. Text must
reach 4.5:1 (WCAG 2 AA); disabled text is listed but exempt, as WCAG exempts inactive
controls. Prints one table per skin; exits 1 when a skin falls short.

usage: skin_contrast.py SKIN_DIR
"""
import re
import sys
from pathlib import Path

HEX = re.compile(r"#[0-9a-fA-F]{6}\b")

# What a rule with a transparent background is drawn on: selector -> selector of the surface.
SURFACE = {
    "QMenuBar::item": "QMenuBar",
    "QMenuBar::item:selected": None,  # own background
    "QMenu::item": "QMenu",
    "QMenu::item:disabled": "QMenu",
    "QStatusBar QLabel": "QStatusBar",
    "QLabel": "QDialog",
    "QLabel:disabled": "QDialog",
    "QGroupBox::title": "QGroupBox",
    "QLineEdit:disabled": "QLineEdit",
}


def luminance(hex_colour):
    def channel(c):
        c /= 255.0
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))
    return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b)


def contrast(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def rules(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    for selectors, body in re.findall(r"([^{}]+)\{([^{}]*)\}", text):
        decls = {}
        for d in body.split(";"):
            if ":" in d:
                k, v = d.split(":", 1)
                decls[k.strip()] = v.strip()
        for s in selectors.split(","):
            yield " ".join(s.split()), decls


def background(decls):
    for key in ("background-color", "background"):
        v = decls.get(key)
        if v and v != "transparent" and HEX.search(v):
            return HEX.findall(v)
    return None


def check(path):
    table = dict(rules(path.read_text(encoding="utf-8")))
    rows, short = [], 0
    for sel, decls in table.items():
        fg = decls.get("color")
        if not fg or not HEX.fullmatch(fg):
            continue
        bgs = background(decls)
        surface = sel
        while bgs is None:
            surface = SURFACE.get(surface, "QDialog" if surface != "QDialog" else None)
            if surface is None:
                break
            bgs = background(table.get(surface, {}))
        if not bgs:
            print(f"{path.name}: {sel}: no background found", file=sys.stderr)
            short += 1
            continue
        worst = min(contrast(fg, bg) for bg in bgs)
        exempt = ":disabled" in sel
        ok = exempt or worst >= 4.5
        short += not ok
        rows.append((sel, fg, "/".join(bgs), worst, "exempt" if exempt else ("ok" if ok else "LOW")))
    print(f"== {path.name}")
    for sel, fg, bg, ratio, verdict in rows:
        print(f"  {sel:42} {fg} on {bg:17} {ratio:5.2f}:1  {verdict}")
    return short


def main():
    skins = sorted(Path(sys.argv[1]).glob("*.skn"))
    if len(skins) != 6:
        print(f"expected 6 skins, found {len(skins)}", file=sys.stderr)
        return 1
    return 1 if sum(check(p) for p in skins) else 0


if __name__ == "__main__":
    sys.exit(main())
