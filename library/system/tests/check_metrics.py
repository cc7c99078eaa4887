#!/usr/bin/python3
"""Reads the registry values that kvbasesys_metric_tests wrote back with
`wine reg query` (an independent reader) and compares names, types and data
with the inputs the test recorded (fixture metrics_expected.txt)."""
import os
import subprocess
import sys


def display(rtype, data):
    """The data as reg query prints it."""
    if rtype == 'REG_DWORD':
        return '0x%x' % int.from_bytes(data, 'little')
    if rtype == 'REG_BINARY':
        return data.hex().upper()
    text = data.decode('utf-16-le')
    if rtype == 'REG_SZ':
        return text.rstrip('\0')
    parts = text.split('\0')
    while parts and parts[-1] == '':
        parts.pop()
    return '\\0'.join(parts)


def main():
    fixture, wine_run = sys.argv[1], sys.argv[2]
    expected = {}
    for line in open(os.path.join(fixture, 'metrics_expected.txt'), encoding='utf-8'):
        key, name, rtype, hexdata = line.rstrip('\n').split('\t')
        expected[(key.upper(), name)] = (rtype, display(rtype, bytes.fromhex(hexdata)))
    query = subprocess.run([wine_run, 'reg', 'query', r'HKCU\Software\Calbrey\VogMetricTest\5.2\Metrics', '/s'],
                           capture_output=True)
    if query.returncode != 0:
        # What the company key holds, to tell a lost write from a wrong path.
        tree = subprocess.run([wine_run, 'reg', 'query', r'HKCU\Software\Calbrey', '/s'], capture_output=True)
        print('FAIL reg query of the metrics key: status %d\n%s' % (query.returncode, tree.stdout.decode('cp437')))
        return 1
    out = query.stdout.decode('cp437')
    got, key = {}, None
    for line in out.split('\r\n'):
        if line.startswith('HKEY_'):
            key = line.upper()
        elif line.startswith('    ') and key:
            name, rtype, data = (line[4:].split('    ', 2) + ['', ''])[:3]
            got[(key, name)] = (rtype, data)
    failures = 0
    for k, v in expected.items():
        if got.get(k) != v:
            failures += 1
            print('FAIL %s\\%s: wrote %r, reg query reads %r' % (k[0], k[1], v, got.get(k)))
    extra = set(got) - set(expected)
    for k in extra:
        failures += 1
        print('FAIL unexpected value %s\\%s' % k)
    print('%d values compared, %d failures' % (len(expected), failures))
    return 1 if failures or not expected else 0


if __name__ == '__main__':
    sys.exit(main())
