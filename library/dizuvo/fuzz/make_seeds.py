#!/usr/bin/python3
# Writes the seed corpus of the list-parsing fuzz target (run by hand): the
# lists a plug-in cache and a profile file hold, as 16-bit little-endian units.
import os

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus-fiolist")
os.makedirs(here, exist_ok=True)
seeds = {
    "ext-reader": "*.m4a;*.mp4;*.m4b; *.aac ;*.3gp",
    "ext-blanks": " ;\t*.M4A\t;;  mp4 ;*.*;*.m?a;",
    "preload": "kvcodec.dll; C:\\Program Files\\Calbrey\\kvmp4.dll;;",
    "patterns": "*.m4a;*.mp4;*;m4b",
    "keynames": "{925F94BC-525A-11D2-86DC-00C04F8EDB8A}\0{abf76256-392d-11d2-86c7-00c04f8edb8a}\0Name\0\0",
    "keynames-open": "{925F94BC-525A-11D2-86DC-00C04F8EDB8A}\0tail-without-end",
    "guid-bad": "{925F94BC-525A-11D2-86DC00C04F8EDB8A0}\0{925F94BG-525A-11D2-86DC-00C04F8EDB8A}\0\0",
    "latin1": "*.\u00e9t\u00e9;\u00ff\u00f7;\u00e0",
}
for name, text in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(text.encode("utf-16-le"))
