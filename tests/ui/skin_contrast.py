#!/usr/bin/env python3
"""Contrast of every text a skin colours against what it is drawn on.

Each text is followed through the states a skin may colour (menu bar and menu items normal,
highlighted and greyed; status bar; buttons normal, hovered, pressed and greyed; labels,
check boxes, edit boxes, lists and drop-down lists with their selections; tool tips). Its
colour and its background are those of the most specific rule that sets them: the state's
rule, the control's rule, then what the control sits on, down to the window and Qt's own
default (black text on the window). A state that changes the background but not the text
is thus checked with the text colour it inherits. Gradients count with their worst stop.
Every text must reach 4.5:1 (WCAG 2 AA), greyed text included: a greyed item is still read
("Stop Capture" is greyed most of the time); it looks greyed by standing out less than the
normal text.

Keyboard focus must show (WCAG 2.4.7, 1.4.11): the focused push button, check box, radio
button, edit box, list and drop-down list draw an outline at least 2 px wide whose colour
reaches 3:1 against the background the control sits on and 3:1 against what the same pixels
show without focus (the unfocused border, or the control's own background where it has none).

Prints one table per skin; exits 1 when a skin falls short.

usage: skin_contrast.py SKIN_DIR
"""
import re
import sys
from pathlib import Path

HEX = re.compile(r"#[0-9a-fA-F]{6}\b")
QT_DEFAULT_TEXT = "#000000"
NEEDED = 4.5
FOCUS_NEEDED = 3.0
FOCUS_WIDTH = 2
WIDTH = re.compile(r"(\d+)px")

# What a control is drawn on and takes its text colour from, outward.
OUTER = {
    "QMenuBar::item": "QMenuBar", "QMenuBar": "QMainWindow",
    "QMenu::item": "QMenu", "QMenu": "QMainWindow",
    "QStatusBar QLabel": "QStatusBar", "QStatusBar": "QMainWindow",
    "QGroupBox::title": "QGroupBox",
    "QComboBox QAbstractItemView": "QComboBox",
    "QListView::item": "QListView",
    "QToolTip": None, "QMainWindow": None, "QDialog": None,
}

# (control, states): every text the skins colour.
TEXTS = [
    ("QMenuBar::item", ["", ":selected", ":pressed"]),
    ("QMenu::item", ["", ":selected", ":disabled"]),
    ("QStatusBar QLabel", [""]),
    ("QPushButton", ["", ":hover", ":pressed", ":default", ":focus", ":disabled"]),
    ("QLabel", ["", ":disabled"]),
    ("QCheckBox", ["", ":disabled"]),
    ("QRadioButton", ["", ":disabled"]),
    ("QGroupBox::title", [""]),
    ("QLineEdit", ["", ":focus", ":disabled", "selection"]),
    ("QListView", ["", "selection"]),
    ("QListWidget", ["", "selection"]),
    ("QListView::item", [":selected"]),
    ("QComboBox", ["", ":focus"]),
    ("QComboBox QAbstractItemView", ["", "selection"]),
    ("QToolTip", [""]),
]


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
    table = {}
    for selectors, body in re.findall(r"([^{}]+)\{([^{}]*)\}", text):
        decls = {}
        for d in body.split(";"):
            if ":" in d:
                k, v = d.split(":", 1)
                decls[k.strip()] = v.strip()
        for s in selectors.split(","):
            table.setdefault(" ".join(s.split()), {}).update(decls)
    return table


def colour(decls):
    v = decls.get("color")
    return v if v and HEX.fullmatch(v) else None


def backgrounds(decls):
    for key in ("background-color", "background"):
        v = decls.get(key)
        if v and v != "transparent" and HEX.search(v):
            return HEX.findall(v)
    return None


def chain(table, control, state):
    """Rules from the most specific outward: the state, the control, what it sits on."""
    window = "QDialog" if control.split(":")[0].split()[0] not in (
        "QMenuBar", "QMenu", "QStatusBar") else "QMainWindow"
    out, c = [], control
    if state and state != "selection":
        out.append(table.get(control + state, {}))
    while c:
        out.append(table.get(c, {}))
        c = OUTER.get(c, window if c != window else None)
    return out


def text_and_ground(table, control, state):
    rs = chain(table, control, state)
    if state == "selection":
        own = table.get(control, {})
        fg, bg = own.get("selection-color"), own.get("selection-background-color")
        if not (fg and bg):
            return None, None
        return fg, [bg]
    fg = next((colour(r) for r in rs if colour(r)), QT_DEFAULT_TEXT)
    bg = next((backgrounds(r) for r in rs if backgrounds(r)), None)
    return fg, bg


# Controls that take keyboard focus in the skinned dialogs.
FOCUSABLE = ["QPushButton", "QCheckBox", "QRadioButton", "QLineEdit", "QListView",
             "QListWidget", "QComboBox"]


def border(rule_list):
    """(width in px, colour) of a box after the rules, least specific first."""
    width, col = 0, None
    for decls in rule_list:
        for key, v in decls.items():
            if key == "border":
                words = v.split()
                if "none" in words:
                    width, col = 0, None
                    continue
                w = next((WIDTH.fullmatch(x) for x in words if WIDTH.fullmatch(x)), None)
                width = int(w.group(1)) if w else width
                col = next((x for x in words if HEX.fullmatch(x) or x == "transparent"), col)
            elif key == "border-width" and WIDTH.fullmatch(v):
                width = int(WIDTH.fullmatch(v).group(1))
            elif key == "border-color":
                col = v
    return width, col


def focus_rows(table):
    """One row per focusable control: (name, outline, ground, ratios, verdict)."""
    rows = []
    for control in FOCUSABLE:
        if control not in table:
            continue
        own = table[control]
        focus = table.get(control + ":focus")
        out = chain(table, control, "")[1:]
        ground = next((backgrounds(r) for r in out if backgrounds(r)), None) or ["#ffffff"]
        name = control + ":focus outline"
        fw, fc = border([own, focus or {}])
        if not focus or not fc or not HEX.fullmatch(fc):
            rows.append((name, "none", "/".join(ground), 0.0, 0.0, "LOW"))
            continue
        uw, uc = border([own])
        if not uw or not uc or not HEX.fullmatch(uc):
            uc = (backgrounds(own) or ground)[0]
        on_ground = min(contrast(fc, g) for g in ground)
        changed = contrast(fc, uc)
        ok = fw >= FOCUS_WIDTH and on_ground >= FOCUS_NEEDED and changed >= FOCUS_NEEDED
        rows.append((name, f"{fc} {fw}px", "/".join(ground), on_ground,
                     changed, ("ok" if ok else "LOW") + f" (unfocused {uc})"))
    return rows


def check(path):
    table = rules(path.read_text(encoding="utf-8"))
    rows, short = [], 0
    for control, states in TEXTS:
        if control not in table:
            continue
        for state in states:
            fg, bgs = text_and_ground(table, control, state)
            if fg is None:
                continue
            name = control + (" " + state if state == "selection" else state)
            if not bgs:
                print(f"{path.name}: {name}: no background found", file=sys.stderr)
                short += 1
                continue
            worst = min(contrast(fg, bg) for bg in bgs)
            need = NEEDED
            ok = worst >= need
            short += not ok
            rows.append((name, fg, "/".join(bgs), worst, "ok" if ok else "LOW"))
    print(f"== {path.name}")
    for name, fg, bg, ratio, verdict in rows:
        print(f"  {name:38} {fg} on {bg:17} {ratio:5.2f}:1  {verdict}")
    for name, outline, bg, ratio, changed, verdict in focus_rows(table):
        short += not verdict.startswith("ok")
        print(f"  {name:38} {outline:11} on {bg:17} {ratio:5.2f}:1, "
              f"against unfocused {changed:5.2f}:1  {verdict}")
    return short


def main():
    skins = sorted(Path(sys.argv[1]).glob("*.skn"))
    if len(skins) != 6:
        print(f"expected 6 skins, found {len(skins)}", file=sys.stderr)
        return 1
    return 1 if sum(check(p) for p in skins) else 0


if __name__ == "__main__":
    sys.exit(main())
