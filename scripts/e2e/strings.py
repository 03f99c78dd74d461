"""The English string table, read from its Linguist source, so checks can name message keys
and compare with what the window must show for them."""

import glob
import os
import xml.etree.ElementTree as ET

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")


def _table_file(resources):
    files = sorted(glob.glob(os.path.join(resources, "**", "*.ts"), recursive=True))
    english = [f for f in files if os.path.basename(f).lower().endswith(("_en.ts", "en_us.ts", "en_gb.ts"))]
    if english:
        return english[0]
    return files[0] if len(files) == 1 else None


def load(resources=RESOURCES, language=None):
    """key -> English text (or the given language's); empty when there is no table (the app
    then shows the keys)."""
    path = _table_file(resources) if language is None else os.path.join(resources, f"Localizable_{language}.ts")
    table = {}
    if path is None:
        return table
    for msg in ET.parse(path).getroot().iter("message"):
        source = msg.findtext("source")
        tr = msg.find("translation")
        if source is None or tr is None:
            continue
        if tr.get("type") in ("unfinished", "obsolete", "vanished") or not (tr.text or ""):
            continue
        table[source] = tr.text
    return table


_TABLE = None


def use_language(language):
    """Compare with the table of `language` (for example "zh_CN") from now on."""
    global _TABLE
    _TABLE = load(language=language)


def tr(key):
    """What the window shows for a message key: its entry, or the key itself."""
    global _TABLE
    if _TABLE is None:
        _TABLE = load()
    return _TABLE.get(key, key)


def tr_fill(key, arg):
    return tr(key).replace("%s", arg, 1)


def has_table():
    global _TABLE
    if _TABLE is None:
        _TABLE = load()
    return bool(_TABLE)
