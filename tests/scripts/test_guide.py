"""README.ja.md, the user guide: its settings table against the settings
code, so that the guide cannot drift from what Corvane.ini really holds."""

import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
GUIDE = ROOT / "README.ja.md"
STORE = ROOT / "src" / "core" / "settings" / "SettingsStore.cpp"
SETTINGS_H = ROOT / "src" / "core" / "settings" / "Settings.h"
DIALOG = ROOT / "src" / "win" / "app" / "SetEnvironmentForm.cpp"
TABLE_HEADER = "| ダイアログの項目 | Corvane.ini のキー | 既定値 | 内容 |"


def guide_table() -> dict[str, tuple[str, str]]:
    """Key -> (dialog cell, default cell) of the guide's settings table."""
    lines = GUIDE.read_text(encoding="utf-8").splitlines()
    assert TABLE_HEADER in lines, "the guide has no settings table"
    rows: dict[str, tuple[str, str]] = {}
    for line in lines[lines.index(TABLE_HEADER) + 2:]:
        if not line.startswith("|"):
            break
        dialog, key, default = (cell.strip() for cell in line.strip("|").split("|")[:3])
        name = re.fullmatch(r"`(\w+)`", key)
        assert name, f"not a key cell: {key!r}"
        assert name.group(1) not in rows, f"{name.group(1)} is in the table twice"
        rows[name.group(1)] = (dialog, default)
    return rows


def code_defaults() -> dict[str, str]:
    """Every [Environment] key the settings code reads, with its fallback as
    written there ("" for a string, which has none)."""
    source = STORE.read_text(encoding="utf-8")
    constants = dict(re.findall(r"constexpr std::int32_t (\w+) = (\d+);", SETTINGS_H.read_text(encoding="utf-8")))
    keys: dict[str, str] = {}
    for kind, key, fallback in re.findall(r"\benv\.(Flag|Int|String)\(\"(\w+)\"(?:,\s*([\w]+))?\)", source):
        if kind == "Flag":
            fallback = {"true": "1", "false": "0"}[fallback]
        elif kind == "Int":
            fallback = constants.get(fallback, fallback)
        keys[key] = fallback
    # Keys only written, never read, count too.
    for key in re.findall(r"\benv\.(?:Flag|Int|String)\(\"(\w+)\",\s*(?:settings|window)", source):
        keys.setdefault(key, "")
    assert keys, f"no [Environment] keys found in {STORE}"
    return keys


def test_the_table_and_the_settings_code_hold_the_same_keys_with_the_same_defaults():
    table, code = guide_table(), code_defaults()
    assert sorted(set(table) - set(code)) == [], "keys in the guide that the settings code does not know"
    assert sorted(set(code) - set(table)) == [], "keys of the settings code missing from the guide"
    for key, fallback in code.items():
        if not fallback:
            continue
        shown = re.match(r"\d+", table[key][1])
        assert shown and shown.group() == fallback, f"{key}: guide says {table[key][1]!r}, code {fallback}"


def test_every_dialog_label_quoted_in_the_table_is_the_dialogs_own_text():
    dialog_source = DIALOG.read_text(encoding="utf-8")
    for key, (dialog, _) in guide_table().items():
        for label in re.findall(r"「(.+?)」", dialog):
            if label == "参照":
                continue
            assert f'L"{label}"' in dialog_source, f"{key}: the dialog shows no label {label!r}"


def test_the_pictures_the_guide_shows_exist():
    text = GUIDE.read_text(encoding="utf-8")
    pictures = re.findall(r"!\[[^\]]*\]\(([^)]+)\)", text)
    assert pictures, "the guide shows no pictures"
    for picture in pictures:
        assert (ROOT / picture).is_file(), f"{picture} is missing (scripts/guide-images takes it)"
