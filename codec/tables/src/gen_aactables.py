#!/usr/bin/env python3
"""Writes aactables_data.cpp, the C++ form of the AAC-LC tables (Huffman
codebooks with their 4-bit decoding trees, scalefactor-band offsets, band
counts and TNS limits) from the JSON table files.

Run: /usr/bin/python3 gen_aactables.py <folder with aac_huffman.json and
aac_bands.json> > aactables_data.cpp
"""
import json
import os
import sys


def build_tree(codes, lengths):
    """Trees of 16-entry nodes walked 4 bits at a time. An entry holds in its
    upper 16 bits the number of bits of the 4-bit step the code really used
    (0 = continue at the child node) and in its lower 16 bits the symbol or
    the child node index."""
    nodes = [[None] * 16]
    for sym, (code, length) in enumerate(zip(codes, lengths)):
        node = 0
        left = length
        while left > 4:
            chunk = (code >> (left - 4)) & 15
            e = nodes[node][chunk]
            if e is None:
                nodes.append([None] * 16)
                e = (0, len(nodes) - 1)
                nodes[node][chunk] = e
            assert e[0] == 0, "prefix clash"
            node = e[1]
            left -= 4
        chunk = (code & ((1 << left) - 1)) << (4 - left)
        for fill in range(1 << (4 - left)):
            assert nodes[node][chunk + fill] is None, "prefix clash"
            nodes[node][chunk + fill] = (left, sym)
    out = []
    for n in nodes:
        for e in n:
            assert e is not None, "incomplete code"
            out.append((e[0] << 16) | e[1])
    return out


def c_array(ctype, name, values, per_line=12, fmt="{}"):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(fmt.format(v) for v in values[i:i + per_line]) + ",")
    return "const %s %s[%d] = {\n%s\n};\n" % (ctype, name, len(values), "\n".join(lines))


def main():
    folder = sys.argv[1]
    huff = json.load(open(os.path.join(folder, "aac_huffman.json")))
    bands = json.load(open(os.path.join(folder, "aac_bands.json")))
    out = []
    out.append("// The AAC-LC tables of the standard in this project's C++ form: Huffman\n"
               "// codewords and lengths, their 4-bit decoding trees, scalefactor-band\n"
               "// offsets, band counts and TNS limits. Written by gen_aactables.py; edit\n"
               "// the generator, not this file.\n")
    out.append('#include "aactables.h"\n\nnamespace {\n')
    sf = huff["scalefactor"]
    out.append(c_array("uint32_t", "kSfCodes", sf["codes"], fmt="0x{:x}"))
    out.append(c_array("uint8_t", "kSfLengths", sf["lengths"], per_line=24))
    sf_tree = build_tree(sf["codes"], sf["lengths"])
    out.append(c_array("uint32_t", "kSfTree", sf_tree, per_line=8, fmt="0x{:x}"))
    books = huff["spectral"]
    for b in books:
        n = b["codebook"]
        out.append(c_array("uint32_t", "kCb%dCodes" % n, b["codes"], fmt="0x{:x}"))
        out.append(c_array("uint8_t", "kCb%dLengths" % n, b["lengths"], per_line=24))
        out.append(c_array("uint32_t", "kCb%dTree" % n, build_tree(b["codes"], b["lengths"]),
                           per_line=8, fmt="0x{:x}"))
    tables = bands["scalefactor_band_tables"]
    for name, offs in tables.items():
        out.append(c_array("uint16_t", "k_" + name, offs, per_line=16))
    out.append("}  // namespace\n\n")
    out.append("const AacHuffmanBook kAacScalefactorBook = {0, 1, 60, 121, 0, false, false, 121, "
               "kSfCodes, kSfLengths, kSfTree, %d};\n\n" % (len(sf_tree) // 16))
    out.append("const AacHuffmanBook kAacSpectralBooks[12] = {\n    {0, 0, 0, 0, 0, false, false, 0, "
               "nullptr, nullptr, nullptr, 0},\n")
    for b in books:
        n = b["codebook"]
        tree = build_tree(b["codes"], b["lengths"])
        out.append("    {%d, %d, %d, %d, %d, %s, %s, %d, kCb%dCodes, kCb%dLengths, kCb%dTree, %d},\n" % (
            n, b["dimension"], b["lav"], b["modulo"], b["value_offset"],
            "true" if b["unsigned"] else "false", "true" if b["escape"] else "false",
            b["size"], n, n, n, len(tree) // 16))
    out.append("};\n\n")
    out.append("const AacRateTables kAacRateTables[13] = {\n")
    for r in bands["by_sampling_frequency_index"]:
        def ref(key):
            return "k_" + r[key]
        out.append("    {%d, %s, %d, %s, %d, %s, %d, %s, %d, %d, %d},\n" % (
            r["sampling_frequency"], ref("long_1024"), r["num_swb_long_1024"],
            ref("short_128"), r["num_swb_short_128"], ref("long_960"), r["num_swb_long_960"],
            ref("short_120"), r["num_swb_short_120"],
            r["tns_max_bands_lc_long"], r["tns_max_bands_lc_short"]))
    out.append("};\n\n")
    bounds = [e["min_hz"] for e in bands["sampling_frequency_mapping"]["lower_bounds_hz"]]
    out.append("const uint32_t kAacRateMappingBounds[11] = {%s};\n" % ", ".join(map(str, bounds)))
    freqs = [e["frequency_hz"] or 0 for e in bands["sampling_frequency_index"]["values"]][:13]
    out.append("const uint32_t kAacSamplingFrequencies[13] = {%s};\n" % ", ".join(map(str, freqs)))
    # Sanity: the band tables end at their window length.
    for name, offs in tables.items():
        assert offs[-1] == int(name.split("_")[2]), name
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
